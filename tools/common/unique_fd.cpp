// UniqueFd (pty_master.h), for both systems: the pseudo-terminal code holds one on Linux, and
// Windows builds the same class for the simulator that holds no pseudo-terminal there.
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "pty_master.h"

namespace qk42rt {
namespace {

void close_fd(int fd) {
#ifdef _WIN32
    ::_close(fd);
#else
    ::close(fd);
#endif
}

}  // namespace

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) close_fd(fd_);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close_fd(fd_);
        fd_ = other.release();
    }
    return *this;
}

int UniqueFd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

}  // namespace qk42rt
