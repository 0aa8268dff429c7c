// A connected TCP socket to a device server, non-blocking underneath. One implementation per
// platform (socket_posix.cpp, socket_win32.cpp); the lines above it know no system call.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace qk42rt::net {

using Clock = std::chrono::steady_clock;

class Socket;

struct Connected {
    std::unique_ptr<Socket> socket;  // set on success
    std::string reason;              // otherwise: "connection refused", "timed out", ...
};

class Socket {
  public:
    // Resolves `host` and connects, all within `limit`. The socket has TCP_NODELAY (Nagle's
    // delay would hold back every request) and keep-alive (a server that vanished without a
    // word is noticed).
    static Connected connect(const std::string& host, std::uint16_t port,
                             std::chrono::milliseconds limit);

    ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Sends everything, waiting while the connection takes no more. False once it is gone.
    bool send_all(std::span<const std::uint8_t> bytes);

    // Whatever has arrived, up to buffer.size() bytes, waiting until `deadline` for the first
    // one. 0 at the deadline, or when the connection is gone (closed() then says so).
    std::size_t receive(std::span<std::uint8_t> buffer, Clock::time_point deadline);

    // What has arrived so far, up to buffer.size() bytes, without waiting.
    std::size_t receive_now(std::span<std::uint8_t> buffer);

    // Acknowledge what arrives next at once rather than after the delayed-ACK wait. A server
    // that answers in two small segments with Nagle's algorithm on (ser2net's purge answer,
    // then the reply) would otherwise hold back the second one for about 40 ms.
    void acknowledge_promptly();

    // The server closed the connection, or it failed.
    bool closed() const { return closed_; }

  private:
    explicit Socket(std::intptr_t handle) : handle_(handle) {}
    std::size_t receive_ready(std::span<std::uint8_t> buffer);

    std::intptr_t handle_;
    // A relay receives on one thread and sends on another; either may find the end.
    std::atomic<bool> closed_{false};
};

}  // namespace qk42rt::net
