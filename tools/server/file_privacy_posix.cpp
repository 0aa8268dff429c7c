#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "file_privacy.h"

namespace qk42rt::server {

std::optional<FilePrivacy> file_privacy(const std::string& path, std::string& error) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    FilePrivacy privacy;
    privacy.regular = S_ISREG(info.st_mode);
    privacy.group_may_use = (info.st_mode & S_IRWXG) != 0;
    privacy.others_may_use = (info.st_mode & S_IRWXO) != 0;
    std::array<char, 8> mode{};
    std::snprintf(mode.data(), mode.size(), "%03o", static_cast<unsigned>(info.st_mode & 0777));
    privacy.mode = mode.data();
    return privacy;
}

std::string host_name() {
    std::array<char, HOST_NAME_MAX + 1> name{};
    if (gethostname(name.data(), name.size() - 1) != 0) return {};
    return name.data();
}

}  // namespace qk42rt::server
