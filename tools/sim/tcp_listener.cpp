#include "tcp_listener.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "port/device_string.h"

namespace qk42rt::sim {
namespace {

// A socket address as HOST:PORT text.
std::string address_text(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = {};
    std::uint16_t port = 0;
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, host, sizeof host);
        port = ntohs(v6.sin6_port);
    } else {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &v4.sin_addr, host, sizeof host);
        port = ntohs(v4.sin_port);
    }
    return host_port_text(host, port);
}

std::string bound_address(int fd) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) return {};
    return address_text(address);
}

}  // namespace

TcpListener TcpListener::open(const std::string& host, std::uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    if (const int error = getaddrinfo(host.c_str(), service.c_str(), &hints, &list); error != 0) {
        throw std::invalid_argument("cannot listen on " + host + ": " + gai_strerror(error));
    }
    int last_errno = EADDRNOTAVAIL;
    for (const addrinfo* address = list; address; address = address->ai_next) {
        UniqueFd fd(::socket(address->ai_family,
                             address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                             address->ai_protocol));
        if (fd.get() < 0) {
            last_errno = errno;
            continue;
        }
        const int on = 1;
        setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd.get(), address->ai_addr, address->ai_addrlen) != 0 ||
            ::listen(fd.get(), 4) != 0) {
            last_errno = errno;
            continue;
        }
        freeaddrinfo(list);
        std::string bound = bound_address(fd.get());
        return TcpListener(std::move(fd), std::move(bound));
    }
    freeaddrinfo(list);
    throw std::system_error(last_errno, std::generic_category(),
                            "listen on " + host_port_text(host, port));
}

UniqueFd TcpListener::accept_client(std::string& peer) const {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    UniqueFd client(::accept4(fd(), reinterpret_cast<sockaddr*>(&address), &size,
                              SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (client.get() < 0) return client;
    const int on = 1;
    setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    peer = address_text(address);
    return client;
}

bool send_all(int socket_fd, std::span<const std::uint8_t> bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socket_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd waiting{socket_fd, POLLOUT, 0};
            if (poll(&waiting, 1, 1000) <= 0) return false;
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace qk42rt::sim
