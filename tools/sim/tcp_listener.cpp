#include "tcp_listener.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

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

std::string bound_address(SocketHandle socket) {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) return {};
    return address_text(address);
}

// setsockopt's value as both systems take it (Windows: const char*).
void set_option(SocketHandle socket, int level, int name) {
    const int on = 1;
    setsockopt(socket, level, name, reinterpret_cast<const char*>(&on), sizeof on);
}

}  // namespace

TcpListener TcpListener::open(const std::string& host, std::uint16_t port) {
    start_sockets();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    if (const int error = getaddrinfo(host.c_str(), service.c_str(), &hints, &list); error != 0) {
        throw std::invalid_argument("cannot listen on " + host + ": " + gai_strerror(error));
    }
    int last_error = EADDRNOTAVAIL;
    for (const addrinfo* address = list; address; address = address->ai_next) {
        UniqueSocket socket(
            ::socket(address->ai_family, address->ai_socktype, address->ai_protocol));
        if (!socket.valid() || !prepare_socket(socket.get())) {
            last_error = last_socket_error();
            continue;
        }
#ifndef _WIN32
        // Windows' SO_REUSEADDR lets a second program take a port in use; its default already
        // allows a quick restart.
        set_option(socket.get(), SOL_SOCKET, SO_REUSEADDR);
#endif
        if (::bind(socket.get(), address->ai_addr, static_cast<socklen_t>(address->ai_addrlen)) !=
                0 ||
            ::listen(socket.get(), 4) != 0) {
            last_error = last_socket_error();
            continue;
        }
        freeaddrinfo(list);
        std::string bound = bound_address(socket.get());
        return TcpListener(std::move(socket), std::move(bound));
    }
    freeaddrinfo(list);
    throw std::system_error(last_error, std::generic_category(),
                            "listen on " + host_port_text(host, port));
}

UniqueSocket TcpListener::accept_client(std::string& peer) const {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    UniqueSocket client(::accept(handle(), reinterpret_cast<sockaddr*>(&address), &size));
    if (!client.valid()) return client;
    if (!prepare_socket(client.get())) return UniqueSocket{};
    set_option(client.get(), IPPROTO_TCP, TCP_NODELAY);
    peer = address_text(address);
    return client;
}

bool send_all(SocketHandle socket, std::span<const std::uint8_t> bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const long n = send_some(socket, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && socket_call_would_block()) {
            pollfd waiting{socket, POLLOUT, 0};
            if (poll_sockets(&waiting, 1, 1000) <= 0) return false;
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace qk42rt::sim
