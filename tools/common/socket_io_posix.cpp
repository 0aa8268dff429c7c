#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "socket_io.h"

namespace qk42rt {

void UniqueSocket::reset() {
    if (socket_ >= 0) ::close(socket_);
    socket_ = kNoSocket;
}

void start_sockets() {}

int poll_sockets(pollfd* fds, std::size_t count, int timeout_ms) {
    return ::poll(fds, static_cast<nfds_t>(count), timeout_ms);
}

bool socket_call_would_block() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

int last_socket_error() {
    return errno;
}

bool prepare_socket(SocketHandle socket) {
    const int flags = ::fcntl(socket, F_GETFL);
    return flags >= 0 && ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0 &&
           ::fcntl(socket, F_SETFD, FD_CLOEXEC) == 0;
}

long send_some(SocketHandle socket, const std::uint8_t* bytes, std::size_t size) {
    return ::send(socket, bytes, size, MSG_NOSIGNAL);
}

Wakeup::Wakeup() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    read_ = UniqueSocket(fds[0]);
    write_ = UniqueSocket(fds[1]);
}

void Wakeup::wake() const {
    const char byte = 1;
    const ssize_t ignored = ::write(write_.get(), &byte, 1);
    (void)ignored;  // a full pipe is readable already
}

}  // namespace qk42rt
