// Winsock under the device-server lines: the same non-blocking socket and waits as on POSIX.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "port/socket.h"

namespace qk42rt::net {
namespace {

int ms_until(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 60'000 ? 60'000 : static_cast<int>(ms);
}

// Winsock needs starting once per process; it is left running until the process ends.
bool winsock_started() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

std::string reason_for(int error) {
    switch (error) {
        case WSAECONNREFUSED:
            return "connection refused";
        case WSAETIMEDOUT:
            return "timed out";
        case WSAENETUNREACH:
        case WSAEHOSTUNREACH:
            return "no route to host";
        default:
            return "socket error " + std::to_string(error);
    }
}

void set_options(SOCKET s) {
    const BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
}

int connect_one(const addrinfo& address, Clock::time_point deadline, SOCKET& out) {
    SOCKET s = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (s == INVALID_SOCKET) return WSAGetLastError();
    u_long non_blocking = 1;
    ioctlsocket(s, FIONBIO, &non_blocking);
    if (::connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        const int error = WSAGetLastError();
        closesocket(s);
        return error;
    }
    WSAPOLLFD waiting{s, POLLWRNORM, 0};
    const int ready = WSAPoll(&waiting, 1, ms_until(deadline));
    if (ready <= 0) {
        closesocket(s);
        return WSAETIMEDOUT;
    }
    int error = 0;
    int size = sizeof error;
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
    if (error == 0 && (waiting.revents & (POLLERR | POLLHUP))) error = WSAECONNREFUSED;
    if (error != 0) {
        closesocket(s);
        return error;
    }
    out = s;
    return 0;
}

}  // namespace

Connected Socket::connect(const std::string& host, std::uint16_t port,
                          std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    Connected result;
    if (!winsock_started()) {
        result.reason = "Winsock did not start";
        return result;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    // Windows offers no portable bounded lookup; names of device servers are usually
    // addresses or in the hosts file, which answer at once.
    const int looked_up = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (looked_up != 0) {
        result.reason = looked_up == WSAHOST_NOT_FOUND || looked_up == WSANO_DATA
                            ? "no such host"
                            : "cannot look up " + host;
        return result;
    }
    int last_error = WSAETIMEDOUT;
    for (const addrinfo* address = list; address; address = address->ai_next) {
        SOCKET s = INVALID_SOCKET;
        last_error = connect_one(*address, deadline, s);
        if (last_error == 0) {
            set_options(s);
            freeaddrinfo(list);
            result.socket.reset(new Socket(static_cast<std::intptr_t>(s)));
            return result;
        }
        if (Clock::now() >= deadline) break;
    }
    freeaddrinfo(list);
    result.reason = reason_for(last_error);
    return result;
}

Socket::~Socket() {
    closesocket(static_cast<SOCKET>(handle_));
}

bool Socket::send_all(std::span<const std::uint8_t> bytes) {
    const SOCKET s = static_cast<SOCKET>(handle_);
    std::size_t sent = 0;
    while (sent < bytes.size() && !closed_) {
        const int n = ::send(s, reinterpret_cast<const char*>(bytes.data() + sent),
                             static_cast<int>(bytes.size() - sent), 0);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
            WSAPOLLFD waiting{s, POLLWRNORM, 0};
            WSAPoll(&waiting, 1, -1);
            if (waiting.revents & (POLLHUP | POLLERR | POLLNVAL)) closed_ = true;
        } else {
            closed_ = true;
        }
    }
    return !closed_;
}

// Windows offers no per-socket switch for it; hosts there keep the delayed ACK.
void Socket::acknowledge_promptly() {}

std::size_t Socket::receive_ready(std::span<std::uint8_t> buffer) {
    const int n = ::recv(static_cast<SOCKET>(handle_), reinterpret_cast<char*>(buffer.data()),
                         static_cast<int>(buffer.size()), 0);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) closed_ = true;
    return 0;
}

std::size_t Socket::receive_now(std::span<std::uint8_t> buffer) {
    if (closed_ || buffer.empty()) return 0;
    return receive_ready(buffer);
}

std::size_t Socket::receive(std::span<std::uint8_t> buffer, Clock::time_point deadline) {
    if (closed_ || buffer.empty()) return 0;
    for (;;) {
        const int wait_ms = ms_until(deadline);
        WSAPOLLFD waiting{static_cast<SOCKET>(handle_), POLLRDNORM, 0};
        const int ready = WSAPoll(&waiting, 1, wait_ms);
        if (ready < 0) {
            closed_ = true;
            return 0;
        }
        if (ready == 0) {
            if (wait_ms == 0) return 0;
            continue;
        }
        const std::size_t got = receive_ready(buffer);
        if (got > 0 || closed_) return got;
    }
}

}  // namespace qk42rt::net
