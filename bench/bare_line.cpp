#include "bare_line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "clocks.h"

namespace qk42rt::bench {

BareLine::BareLine(const std::string& device) {
    fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "open " + device);
    termios tio{};
    if (tcgetattr(fd_, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cc[VMIN] = 1;
        tio.c_cc[VTIME] = 0;
        cfsetspeed(&tio, B9600);
        tcsetattr(fd_, TCSANOW, &tio);
    }
}

BareLine::~BareLine() {
    ::close(fd_);
}

std::size_t BareLine::exchange(std::span<const std::uint8_t> request,
                               std::span<std::uint8_t> reply) {
    tcflush(fd_, TCIFLUSH);
    if (::write(fd_, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
        return 0;
    }
    const double deadline = wall_us() + 500'000.0;
    std::size_t got = 0;
    while (got < reply.size()) {
        const double left_us = deadline - wall_us();
        if (left_us <= 0) break;
        pollfd readable{fd_, POLLIN, 0};
        if (poll(&readable, 1, static_cast<int>((left_us + 999.0) / 1000.0)) <= 0) continue;
        const ssize_t n = ::read(fd_, reply.data() + got, reply.size() - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

}  // namespace qk42rt::bench
