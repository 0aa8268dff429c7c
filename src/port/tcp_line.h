// A device server in raw mode: the instrument's bytes pass unchanged both ways over TCP, and
// the server holds the serial settings.
#pragma once

#include <memory>
#include <string>

#include "port/open_port.h"
#include "port/port.h"
#include "port/socket.h"

namespace qk42rt {

// How long connecting to a device server may take, name lookup included.
inline constexpr std::chrono::milliseconds kConnectLimit{3000};

class TcpLine final : public Port {
  public:
    explicit TcpLine(std::unique_ptr<net::Socket> socket) : socket_(std::move(socket)) {}

    static OpenResult open(const std::string& host, std::uint16_t port);

    // Discards every byte received so far.
    void clear_input() override;
    void write(std::span<const std::uint8_t> bytes) override;
    std::size_t read(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) override;
    std::size_t read_some(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) override;
    bool hung_up() const override { return socket_->closed(); }

  private:
    std::unique_ptr<net::Socket> socket_;
};

}  // namespace qk42rt
