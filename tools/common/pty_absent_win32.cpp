// Windows has no pseudo-terminals: the simulator serves TCP there, and nothing makes links.
#include <io.h>

#include <stdexcept>

#include "link_file.h"
#include "pty_master.h"

namespace qk42rt {
namespace {

[[noreturn]] void absent() {
    throw std::runtime_error(
        "Windows has no pseudo-terminals: serve on TCP with --tcp HOST:PORT --no-pty");
}

}  // namespace

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) ::_close(fd_);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::_close(fd_);
        fd_ = other.release();
    }
    return *this;
}

int UniqueFd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

PtyMaster PtyMaster::open() {
    absent();
}
bool PtyMaster::write_all(std::span<const std::uint8_t>) const {
    return false;
}
std::ptrdiff_t PtyMaster::read_some(std::span<std::uint8_t>) const {
    return -1;
}
bool PtyMaster::host_has_opened() const {
    return false;
}

void point_link(const std::string&, const std::string&) {
    absent();
}
void remove_link(const std::string&, const std::string&) {}

}  // namespace qk42rt
