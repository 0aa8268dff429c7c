#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

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
// server far longer than the connect limit, so a name is looked up on a helper thread that is
// waited on until the deadline and, past it, left to finish alone (it frees its own answer).
// Not getaddrinfo_a: its thread starts inside the C library, unseen by ThreadSanitizer, and a
// lookup it fails to cancel would still have to be waited out.
struct Lookup {
    addrinfo* list = nullptr;
    std::string reason;
    ~Lookup() {
        if (list) freeaddrinfo(list);
    }
};

struct PendingLookup {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    int result = 0;
    addrinfo* list = nullptr;
};

int resolve(const std::string& host, const std::string& service, int flags, addrinfo** list) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV | flags;
    return getaddrinfo(host.c_str(), service.c_str(), &hints, list);
}

// getaddrinfo's answer for a name, or EAI_AGAIN with `timed_out` set at the deadline.
int resolve_name(const std::string& host, const std::string& service, Clock::time_point deadline,
                 addrinfo** list, bool& timed_out) {
    auto pending = std::make_shared<PendingLookup>();
    try {
        std::thread([pending, host, service] {
            addrinfo* found = nullptr;
            const int result = resolve(host, service, AI_ADDRCONFIG, &found);
            const std::lock_guard lock(pending->mutex);
            if (pending->abandoned) {
                if (found) freeaddrinfo(found);
                return;
            }
            pending->done = true;
            pending->result = result;
            pending->list = found;
            pending->finished.notify_one();
        }).detach();
    } catch (const std::system_error&) {
        return EAI_SYSTEM;  // no thread to be had
    }
    std::unique_lock lock(pending->mutex);
    if (!pending->finished.wait_until(lock, deadline, [&] { return pending->done; })) {
        pending->abandoned = true;
        timed_out = true;
        return EAI_AGAIN;
    }
    *list = pending->list;
    return pending->result;
}

void look_up(const std::string& host, std::uint16_t port, Clock::time_point deadline,
             Lookup& lookup) {
    const std::string service = std::to_string(port);
    // An address needs no name server: it is answered at once, on this thread.
    int result = resolve(host, service, AI_NUMERICHOST, &lookup.list);
    if (result == EAI_NONAME) {
        bool timed_out = false;
        result = resolve_name(host, service, deadline, &lookup.list, timed_out);
        if (timed_out) {
            lookup.reason = "timed out";
            return;
        }
    }
    if (result == 0) return;
    lookup.list = nullptr;
    if (result == EAI_NONAME || result == EAI_NODATA || result == EAI_FAIL ||
        result == EAI_ADDRFAMILY) {
        lookup.reason = "no such host";
    } else if (result == EAI_SYSTEM) {
        lookup.reason = "cannot look up " + host;
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
