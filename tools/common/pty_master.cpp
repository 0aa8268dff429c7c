#include "pty_master.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace qk42rt {
namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void make_slave_raw(const std::string& path) {
    UniqueFd slave(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (slave.get() < 0) fail("open pseudo-terminal slave");
    termios tio{};
    if (tcgetattr(slave.get(), &tio) != 0) fail("tcgetattr");
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(slave.get(), TCSANOW, &tio) != 0) fail("tcsetattr");
}

}  // namespace

PtyMaster PtyMaster::open() {
    UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (master.get() < 0) fail("posix_openpt");
    if (grantpt(master.get()) != 0) fail("grantpt");
    if (unlockpt(master.get()) != 0) fail("unlockpt");
    char name[128] = {};
    if (ptsname_r(master.get(), name, sizeof name) != 0) fail("ptsname_r");
    const int flags = fcntl(master.get(), F_GETFL);
    if (flags < 0 || fcntl(master.get(), F_SETFL, flags | O_NONBLOCK) != 0) fail("fcntl");
    // The slave keeps these settings while the master stays open, across host opens.
    make_slave_raw(name);
    return PtyMaster(std::move(master), name);
}

bool PtyMaster::write_all(std::span<const std::uint8_t> bytes) const {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(fd(), bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The host is not reading; wait a little rather than spin, and give up on a
            // host that never drains the line.
            pollfd waiting{fd(), POLLOUT, 0};
            if (poll(&waiting, 1, 1000) <= 0) return false;
            continue;
        }
        return false;
    }
    return true;
}

std::ptrdiff_t PtyMaster::read_some(std::span<std::uint8_t> buffer) const {
    const ssize_t n = ::read(fd(), buffer.data(), buffer.size());
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    return n <= 0 ? -1 : n;  // EIO: the last host descriptor on the slave was closed
}

bool PtyMaster::host_has_opened() const {
    pollfd line{fd(), POLLIN, 0};
    if (poll(&line, 1, 0) < 0) return false;
    return (line.revents & POLLIN) || !(line.revents & POLLHUP);
}

}  // namespace qk42rt
