#include "port/tcp_line.h"

#include <array>

namespace qk42rt {

OpenResult TcpLine::open(const std::string& host, std::uint16_t port) {
    OpenResult result;
    net::Connected connected = net::Socket::connect(host, port, kConnectLimit);
    if (!connected.socket) {
        result.reason = connected.reason;
        return result;
    }
    result.status = OpenStatus::opened;
    result.port = std::make_unique<TcpLine>(std::move(connected.socket));
    return result;
}

void TcpLine::clear_input() {
    std::array<std::uint8_t, 512> sink;
    while (socket_->receive_now(sink) == sink.size()) {
    }
}

void TcpLine::write(std::span<const std::uint8_t> bytes) {
    socket_->send_all(bytes);
}

std::size_t TcpLine::read(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) {
    const auto deadline = net::Clock::now() + limit;
    std::size_t got = 0;
    while (got < buffer.size()) {
        const std::size_t n = socket_->receive(buffer.subspan(got), deadline);
        if (n == 0) break;  // the deadline, or the connection is gone
        got += n;
    }
    return got;
}

std::size_t TcpLine::read_some(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) {
    return socket_->receive(buffer, net::Clock::now() + limit);
}

}  // namespace qk42rt
