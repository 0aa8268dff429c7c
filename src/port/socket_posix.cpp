#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "port/socket.h"

namespace qk42rt::net {
namespace {

// Milliseconds to `deadline`, rounded up so that a wait never ends early; 0 once past it.
int ms_until(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > 60'000 ? 60'000 : static_cast<int>(ms);
}

// Name lookup bounded by the deadline. A plain getaddrinfo may wait on an unreachable name
// server far longer than the connect limit, so the asynchronous form is waited on instead.
struct Lookup {
    addrinfo* list = nullptr;
    std::string reason;
    ~Lookup() {
        if (list) freeaddrinfo(list);
    }
};

void look_up(const std::string& host, std::uint16_t port, Clock::time_point deadline,
             Lookup& lookup) {
    const std::string service = std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    gaicb request{};
    request.ar_name = host.c_str();
    request.ar_service = service.c_str();
    request.ar_request = &hints;
    gaicb* requests[] = {&request};
    if (getaddrinfo_a(GAI_NOWAIT, requests, 1, nullptr) != 0) {
        lookup.reason = "cannot look up " + host;
        return;
    }
    for (;;) {
        const int wait_ms = ms_until(deadline);
        const timespec wait{wait_ms / 1000, (wait_ms % 1000) * 1'000'000L};
        const gaicb* const waiting[] = {&request};
        const int status = gai_suspend(waiting, 1, &wait);
        if (status == EAI_AGAIN && wait_ms == 0) break;
        if (status == EAI_INTR || (status == EAI_AGAIN && wait_ms > 0)) continue;
        break;
    }
    const int result = gai_error(&request);
    if (result == EAI_INPROGRESS) {
        // The lookup goes on in glibc's helper thread; it must be done before `request`
        // leaves this frame.
        if (gai_cancel(&request) != EAI_CANCELED) {
            const gaicb* const waiting[] = {&request};
            while (gai_error(&request) == EAI_INPROGRESS) gai_suspend(waiting, 1, nullptr);
        }
        if (request.ar_result) freeaddrinfo(request.ar_result);
        lookup.reason = "timed out";
        return;
    }
    if (result == 0) {
        lookup.list = request.ar_result;
        return;
    }
    if (result == EAI_NONAME || result == EAI_NODATA || result == EAI_FAIL ||
        result == EAI_ADDRFAMILY) {
        lookup.reason = "no such host";
    } else {
        lookup.reason = gai_strerror(result);
    }
}

void set_options(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    // Probe an idle connection after 10 s, every 5 s, give up after 3 unanswered probes.
    const int idle = 10, interval = 5, probes = 3;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

std::string reason_for(int error) {
    switch (error) {
        case ECONNREFUSED:
            return "connection refused";
        case ETIMEDOUT:
            return "timed out";
        case ENETUNREACH:
        case EHOSTUNREACH:
            return "no route to host";
        default:
            return std::strerror(error);
    }
}

// One address: 0 and the descriptor, or the errno that stopped it (ETIMEDOUT at the deadline).
int connect_one(const addrinfo& address, Clock::time_point deadline, int& fd_out) {
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            address.ai_protocol);
    if (fd < 0) return errno;
    if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0 && errno != EINPROGRESS) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    for (;;) {
        pollfd waiting{fd, POLLOUT, 0};
        const int ready = poll(&waiting, 1, ms_until(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            ::close(fd);
            return ETIMEDOUT;
        }
        break;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    if (error != 0) {
        ::close(fd);
        return error;
    }
    fd_out = fd;
    return 0;
}

}  // namespace

Connected Socket::connect(const std::string& host, std::uint16_t port,
                          std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    Connected result;
    Lookup lookup;
    look_up(host, port, deadline, lookup);
    if (!lookup.list) {
        result.reason = lookup.reason;
        return result;
    }
    int last_error = ETIMEDOUT;
    for (const addrinfo* address = lookup.list; address; address = address->ai_next) {
        int fd = -1;
        last_error = connect_one(*address, deadline, fd);
        if (last_error == 0) {
            set_options(fd);
            result.socket.reset(new Socket(fd));
            return result;
        }
        if (Clock::now() >= deadline) break;
    }
    result.reason = reason_for(last_error);
    return result;
}

Socket::~Socket() {
    ::close(static_cast<int>(handle_));
}

bool Socket::send_all(std::span<const std::uint8_t> bytes) {
    const int fd = static_cast<int>(handle_);
    std::size_t sent = 0;
    while (sent < bytes.size() && !closed_) {
        // MSG_NOSIGNAL: a server that has gone must not kill the host with SIGPIPE.
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd waiting{fd, POLLOUT, 0};
            if (poll(&waiting, 1, -1) < 0 && errno != EINTR) closed_ = true;
            if (waiting.revents & (POLLHUP | POLLERR | POLLNVAL)) closed_ = true;
        } else {
            closed_ = true;
        }
    }
    return !closed_;
}

void Socket::acknowledge_promptly() {
    const int on = 1;
    setsockopt(static_cast<int>(handle_), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

std::size_t Socket::receive_ready(std::span<std::uint8_t> buffer) {
    for (;;) {
        const ssize_t n = ::recv(static_cast<int>(handle_), buffer.data(), buffer.size(), 0);
        if (n > 0) return static_cast<std::size_t>(n);
        if (n == 0) {
            closed_ = true;  // the server closed its end
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) closed_ = true;
        return 0;
    }
}

std::size_t Socket::receive_now(std::span<std::uint8_t> buffer) {
    if (closed_ || buffer.empty()) return 0;
    return receive_ready(buffer);
}

std::size_t Socket::receive(std::span<std::uint8_t> buffer, Clock::time_point deadline) {
    if (closed_ || buffer.empty()) return 0;
    // Wait before reading: the reply is hardly ever there the moment the request has left.
    for (;;) {
        const int wait_ms = ms_until(deadline);
        pollfd waiting{static_cast<int>(handle_), POLLIN, 0};
        const int ready = poll(&waiting, 1, wait_ms);
        if (ready < 0) {
            if (errno == EINTR) continue;  // resumes with the time left
            closed_ = true;
            return 0;
        }
        if (ready == 0) {
            if (wait_ms == 0) return 0;
            continue;  // woke at the deadline: one more look
        }
        const std::size_t got = receive_ready(buffer);
        if (got > 0 || closed_) return got;
    }
}

}  // namespace qk42rt::net
