// The few socket calls the simulator's TCP side needs, the same on Linux and Windows: a socket
// handle that closes itself, readiness polling, and the last error read the same way.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#endif

#include <cstddef>
#include <cstdint>

namespace qk42rt {

#ifdef _WIN32
using SocketHandle = SOCKET;
inline constexpr SocketHandle kNoSocket = INVALID_SOCKET;
#else
using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;
#endif

// Owns one socket.
class UniqueSocket {
  public:
    UniqueSocket() = default;
    explicit UniqueSocket(SocketHandle socket) : socket_(socket) {}
    ~UniqueSocket() { reset(); }
    UniqueSocket(UniqueSocket&& other) noexcept : socket_(other.release()) {}
    UniqueSocket& operator=(UniqueSocket&& other) noexcept {
        if (this != &other) {
            reset();
            socket_ = other.release();
        }
        return *this;
    }
    UniqueSocket(const UniqueSocket&) = delete;
    UniqueSocket& operator=(const UniqueSocket&) = delete;

    SocketHandle get() const { return socket_; }
    bool valid() const { return socket_ != kNoSocket; }
    SocketHandle release() {
        const SocketHandle socket = socket_;
        socket_ = kNoSocket;
        return socket;
    }
    void reset();

  private:
    SocketHandle socket_ = kNoSocket;
};

// Readies the system's sockets once per process (Winsock needs it); throws std::system_error.
void start_sockets();

// poll(2) over sockets (WSAPoll on Windows); fewer than 0 on failure.
int poll_sockets(pollfd* fds, std::size_t count, int timeout_ms);

// Whether the last socket call failed only because it would have blocked or was interrupted.
bool socket_call_would_block();

// The last socket call's error, as an errno-style value for std::system_error.
int last_socket_error();

// Makes a new socket non-blocking and keeps it from programs this one starts; false when
// the system refuses.
bool prepare_socket(SocketHandle socket);

// send() without SIGPIPE: the bytes sent, or fewer than 0 (see socket_call_would_block).
long send_some(SocketHandle socket, const std::uint8_t* bytes, std::size_t size);

// Wakes a thread out of poll_sockets(): a handle that turns readable for good once wake() is
// called (a pipe on Linux, a socket sending to itself on Windows, where only sockets poll).
class Wakeup {
  public:
    Wakeup();  // throws std::system_error
    SocketHandle handle() const { return read_.get(); }
    void wake() const;

  private:
    UniqueSocket read_;
    UniqueSocket write_;
};

}  // namespace qk42rt
