// The instrument behind a TCP listener, as a device server in raw mode would offer it: one
// client at a time, bytes unchanged both ways.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "socket_io.h"

namespace qk42rt::sim {

class TcpListener {
  public:
    // Listens on HOST:PORT (port 0: any free port). Throws std::system_error or
    // std::invalid_argument.
    static TcpListener open(const std::string& host, std::uint16_t port);

    SocketHandle handle() const { return socket_.get(); }
    // Where it listens, with the port chosen: "127.0.0.1:40123", "[::1]:40123".
    const std::string& address() const { return address_; }

    // A client that is waiting to be accepted (non-blocking), or an empty socket.
    UniqueSocket accept_client(std::string& peer) const;

  private:
    TcpListener(UniqueSocket socket, std::string address)
        : socket_(std::move(socket)), address_(std::move(address)) {}

    UniqueSocket socket_;
    std::string address_;
};

// Sends every byte on a connected socket; waits out a full buffer for up to a second. False
// when the client has gone. Never raises SIGPIPE.
bool send_all(SocketHandle socket, std::span<const std::uint8_t> bytes);

}  // namespace qk42rt::sim
