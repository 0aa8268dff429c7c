#include "link_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace qk42rt {
namespace {

std::string link_target(const std::string& link) {
    char buffer[4096];
    const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buffer) return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace

void point_link(const std::string& link, const std::string& target) {
    struct stat info {};
    if (lstat(link.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        throw std::runtime_error(link + " exists and is not a symbolic link; not replacing it");
    }
    // A new link beside the old one, renamed over it: hosts never find the name missing.
    const std::string temporary = link + ".new." + std::to_string(getpid());
    ::unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        throw std::system_error(errno, std::generic_category(), "symlink " + temporary);
    }
    if (rename(temporary.c_str(), link.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw std::system_error(error, std::generic_category(), "rename to " + link);
    }
}

void remove_link(const std::string& link, const std::string& target) {
    if (link_target(link) == target) ::unlink(link.c_str());
}

}  // namespace qk42rt
