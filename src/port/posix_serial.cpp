#include "port/posix_serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/serial.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace qk42rt {
namespace {

std::int64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Releases the exclusive claims and closes. The tty exclusive flag would otherwise outlive
// the close on a pseudo-terminal whose master stays open and lock out the next opener.
void release(int fd) {
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    ::close(fd);
}

// Raw 8N1 at 9600 baud, no flow control, receiver on, modem-status lines ignored.
// VMIN 1 / VTIME 0 on a non-blocking descriptor: a read of 0 bytes then means hang-up.
bool apply_line_settings(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNBRK | BRKINT |
                                          PARMRK | INLCR | IGNCR | ICRNL);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | ISIG | IEXTEN);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, B9600) != 0 || cfsetospeed(&tio, B9600) != 0) return false;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return false;
    // Devices without modem lines (pseudo-terminals) refuse this; that is no failure.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);
    return true;
}

}  // namespace

bool request_low_latency(int fd) {
#if defined(__linux__) && defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
    serial_struct info{};
    if (ioctl(fd, TIOCGSERIAL, &info) != 0) return false;
    if (info.flags & ASYNC_LOW_LATENCY) return true;
    // Everything else goes back as it came, so the driver sees a change of this flag only.
    info.flags |= ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &info) == 0;
#else
    (void)fd;
    return false;
#endif
}

PosixSerial::~PosixSerial() {
    release(fd_);
}

void PosixSerial::clear_input() {
    tcflush(fd_, TCIFLUSH);
}

void PosixSerial::write(std::span<const std::uint8_t> bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The line takes no more for now: sleep until it does, or until it hangs up.
            pollfd waiting{fd_, POLLOUT, 0};
            if (poll(&waiting, 1, -1) < 0 && errno != EINTR) return;
            if (waiting.revents & (POLLHUP | POLLERR | POLLNVAL)) return;
            continue;
        }
        return;  // an error on the line: the reply read will find nothing
    }
}

std::size_t PosixSerial::read(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) {
    return receive(buffer, limit, false);
}

std::size_t PosixSerial::read_some(std::span<std::uint8_t> buffer,
                                   std::chrono::milliseconds limit) {
    return receive(buffer, limit, true);
}

std::size_t PosixSerial::receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit,
                                 bool some) {
    const std::int64_t deadline =
        monotonic_ns() + std::chrono::duration_cast<std::chrono::nanoseconds>(limit).count();
    std::size_t got = 0;
    // Wait before reading: the reply is hardly ever there the moment the request has left, and
    // a read that finds nothing would cost a system call in every exchange.
    while (got < buffer.size()) {
        const std::int64_t left_ns = deadline - monotonic_ns();
        // Round up, so the wait never ends before the deadline; past it, one last look.
        const int left_ms = left_ns > 0 ? static_cast<int>((left_ns + 999'999) / 1'000'000) : 0;
        pollfd waiting{fd_, POLLIN, 0};
        const int ready = poll(&waiting, 1, left_ms);
        if (ready < 0) {
            if (errno == EINTR) continue;  // resumes with the time left
            return got;
        }
        if (ready == 0) {
            if (left_ms == 0) return got;
            continue;  // woke at the deadline: the next turn takes the last look
        }
        if (!(waiting.revents & POLLIN)) {  // hang-up or error, no data
            hung_up_ = true;
            return got;
        }
        const ssize_t n = ::read(fd_, buffer.data() + got, buffer.size() - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            if (some) return got;
            continue;
        }
        if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
            hung_up_ = true;  // end of file or EIO: the device has gone
            return got;
        }
    }
    return got;
}

OpenResult open_serial_device(const std::string& device) {
    OpenResult result;
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        result.reason = error == ENOENT  ? "no such device"
                        : error == EBUSY ? "another program holds it"
                                         : std::strerror(error);
        return result;
    }
    // Exclusive: the advisory lock stops every other opener that asks, root included; the
    // tty exclusive mode stops non-root openers that do not.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        result.reason = "another program holds it";
        return result;
    }
    if (ioctl(fd, TIOCEXCL) != 0 || !apply_line_settings(fd)) {
        release(fd);
        result.status = OpenStatus::settings_refused;
        result.reason = "it opened but refused the serial line settings (is it a serial device?)";
        return result;
    }
    // A USB adapter at its default latency timer would triple a short exchange at 9600 baud;
    // a device that has no such setting works as it is.
    request_low_latency(fd);
    result.status = OpenStatus::opened;
    result.port = std::make_unique<PosixSerial>(fd);
    return result;
}

void report_open_failure() {
    static const char kLine[] = "can't open port!\n";
    // One write, so the line is never split by other output.
    const ssize_t ignored = ::write(STDERR_FILENO, kLine, sizeof kLine - 1);
    (void)ignored;
}

}  // namespace qk42rt
