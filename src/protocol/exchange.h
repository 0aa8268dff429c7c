// One request/reply exchange on a port, and the three ways a reply is judged.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>

#include "port/port.h"
#include "protocol/command_table.h"
#include "protocol/outcome.h"

namespace qk42rt::protocol {

struct Request {
    std::array<std::uint8_t, kMaxRequest> bytes{};  // zero-filled
    std::size_t size = 0;

    Request() = default;
    Request(std::initializer_list<std::uint8_t> list);
    void push(std::uint8_t byte) { bytes[size++] = byte; }
    std::uint8_t header() const { return bytes[0]; }
    std::span<const std::uint8_t> view() const { return {bytes.data(), size}; }
};

struct Reply {
    std::array<std::uint8_t, kMaxReply> bytes{};  // zero-filled
    std::size_t size = 0;                         // bytes that arrived
    std::size_t expected = 0;                     // the command's reply length
    bool port_held = false;
    bool line_closed = false;  // the port hung up before the reply was complete
    std::chrono::milliseconds timeout = kReplyTimeout;
    // From the end of the write to the end of the read: for a whole reply, its latency.
    std::chrono::steady_clock::duration waited{};
    std::span<const std::uint8_t> view() const { return {bytes.data(), size}; }
};

// Sees every exchange: the request sent and the reply as it arrived (possibly short).
using TraceHook = std::function<void(const Request&, const Reply&)>;

// A port (or none) with an optional trace hook: what the operations run their exchange on.
class Line {
  public:
    explicit Line(Port* port = nullptr, TraceHook trace = {})
        : port_(port), trace_(std::move(trace)) {}

    // Clear the receive side, write the request, one timed read of `reply_length` bytes.
    // Without a port nothing is sent and no byte is counted.
    Reply exchange(const Request& request, std::size_t reply_length);

    // How long the read waits for the reply (500 ms unless a host asks for more).
    void set_reply_timeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
    std::chrono::milliseconds reply_timeout() const { return timeout_; }
    void set_trace(TraceHook trace) { trace_ = std::move(trace); }
    void set_port(Port* port) { port_ = port; }

  private:
    Port* port_;
    TraceHook trace_;
    std::chrono::milliseconds timeout_ = kReplyTimeout;
};

// Judges a reply; empty when it passes.
std::optional<Error> judge(const Reply& reply, Check check, std::uint8_t header);

}  // namespace qk42rt::protocol
