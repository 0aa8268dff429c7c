#include <winsock2.h>

#include <mutex>
#include <system_error>

#include "socket_io.h"

namespace qk42rt {

void UniqueSocket::reset() {
    if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
    socket_ = INVALID_SOCKET;
}

void start_sockets() {
    static std::once_flag once;
    static int result = 0;
    std::call_once(once, [] {
        WSADATA data;
        result = WSAStartup(MAKEWORD(2, 2), &data);
    });
    if (result != 0) throw std::system_error(result, std::system_category(), "WSAStartup");
}

int poll_sockets(pollfd* fds, std::size_t count, int timeout_ms) {
    return WSAPoll(fds, static_cast<ULONG>(count), timeout_ms);
}

bool socket_call_would_block() {
    const int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

int last_socket_error() {
    return WSAGetLastError();
}

bool prepare_socket(SocketHandle socket) {
    u_long on = 1;
    return ioctlsocket(socket, FIONBIO, &on) == 0 &&
           SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
}

long send_some(SocketHandle socket, const std::uint8_t* bytes, std::size_t size) {
    const int chunk = size > 1U << 30 ? 1 << 30 : static_cast<int>(size);
    return ::send(socket, reinterpret_cast<const char*>(bytes), chunk, 0);
}

// A UDP socket on the loopback interface, connected to itself: a datagram it sends to itself
// makes it readable, and nothing reads it, so it stays readable.
Wakeup::Wakeup() {
    start_sockets();
    UniqueSocket own(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    if (!own.valid() || ::bind(own.get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::getsockname(own.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        ::connect(own.get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        !prepare_socket(own.get())) {
        throw std::system_error(WSAGetLastError(), std::system_category(), "wake-up socket");
    }
    read_ = std::move(own);
}

void Wakeup::wake() const {
    const char byte = 1;
    ::send(read_.get(), &byte, 1, 0);
}

}  // namespace qk42rt
