#include <windows.h>

#include <filesystem>
#include <system_error>

#include "file_privacy.h"

namespace qk42rt::server {

// The C runtime's stat() makes up group and other permission bits from the read-only flag, so
// it cannot tell a private file from a shared one; the access control list would, and is not
// read here (docs/windows.md: keep the file in a folder only its users can open).
std::optional<FilePrivacy> file_privacy(const std::string& path, std::string& error) {
    std::error_code code;
    const auto status = std::filesystem::status(path, code);
    if (code || !std::filesystem::exists(status)) {
        error = code ? code.message() : "No such file or directory";
        return std::nullopt;
    }
    FilePrivacy privacy;
    privacy.regular = std::filesystem::is_regular_file(status);
    return privacy;
}

std::string host_name() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) return {};
    return name;
}

}  // namespace qk42rt::server
