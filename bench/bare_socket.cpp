#include "bare_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "clocks.h"

namespace qk42rt::bench {
namespace {

constexpr std::uint8_t kIac = 0xFF;

bool is_loopback_peer(int fd, std::uint16_t port) {
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0) return false;
    if (peer.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(peer);
        return ntohs(v4.sin_port) == port && ntohl(v4.sin_addr.s_addr) == INADDR_LOOPBACK;
    }
    if (peer.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(peer);
        return ntohs(v6.sin6_port) == port && IN6_IS_ADDR_LOOPBACK(&v6.sin6_addr);
    }
    return false;
}

}  // namespace

BareSocket::BareSocket(int fd, Framing framing) : fd_(fd), framing_(framing) {
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

std::size_t BareSocket::exchange(std::span<const std::uint8_t> request,
                                 std::span<std::uint8_t> reply) {
    std::uint8_t sink[512];
    while (::recv(fd_, sink, sizeof sink, MSG_DONTWAIT) == static_cast<ssize_t>(sizeof sink)) {
    }
    after_iac_ = false;
    if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        return 0;
    }
    const double deadline = wall_us() + 500'000.0;
    std::size_t got = 0;
    while (got < reply.size()) {
        const double left_us = deadline - wall_us();
        if (left_us <= 0) break;
        pollfd readable{fd_, POLLIN, 0};
        if (poll(&readable, 1, static_cast<int>((left_us + 999.0) / 1000.0)) <= 0) continue;
        const ssize_t n = ::recv(fd_, reply.data() + got, reply.size() - got, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) break;
        const std::size_t end = got + static_cast<std::size_t>(n);
        got = framing_ == Framing::telnet ? undouble(reply, got, end) : end;
    }
    return got;
}

std::size_t BareSocket::undouble(std::span<std::uint8_t> reply, std::size_t from, std::size_t to) {
    std::size_t kept = from;
    for (std::size_t i = from; i < to; ++i) {
        const bool second_of_pair = after_iac_ && reply[i] == kIac;
        after_iac_ = !second_of_pair && reply[i] == kIac;
        if (!second_of_pair) reply[kept++] = reply[i];
    }
    return kept;
}

int connection_to_loopback_port(std::uint16_t port) {
    int found = -1;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const std::string name = entry.path().filename().string();
        int fd = -1;
        if (std::from_chars(name.data(), name.data() + name.size(), fd).ec != std::errc{}) continue;
        struct stat status {};
        if (fstat(fd, &status) != 0 || !S_ISSOCK(status.st_mode)) continue;
        if (!is_loopback_peer(fd, port)) continue;
        if (found >= 0) {
            throw std::runtime_error("more than one connection to port " + std::to_string(port));
        }
        found = fd;
    }
    if (found < 0) throw std::runtime_error("no connection to port " + std::to_string(port));
    return found;
}

}  // namespace qk42rt::bench
