#include "protocol/exchange.h"

#include "protocol/frame.h"

namespace qk42rt::protocol {

Request::Request(std::initializer_list<std::uint8_t> list) {
    for (std::uint8_t byte : list) push(byte);
}

Reply Line::exchange(const Request& request, std::size_t reply_length) {
    Reply reply;
    reply.expected = reply_length;
    reply.port_held = port_ != nullptr;
    reply.timeout = timeout_;
    if (port_ != nullptr) {
        port_->clear_input();
        port_->write(request.view());
        const auto written = std::chrono::steady_clock::now();
        reply.size = port_->read(std::span(reply.bytes.data(), reply_length), timeout_);
        reply.waited = std::chrono::steady_clock::now() - written;
        if (reply.size > reply_length) reply.size = 0;  // a port that overstates has failed
        reply.line_closed = reply.size < reply_length && port_->hung_up();
    }
    if (trace_) trace_(request, reply);
    return reply;
}

std::optional<Error> judge(const Reply& reply, Check check, std::uint8_t header) {
    Error error;
    error.received = reply.size;
    error.expected = reply.expected;
    error.timeout_ms = static_cast<int>(reply.timeout.count());
    if (!reply.port_held) {
        error.why = Failure::no_port;
        return error;
    }
    if (reply.line_closed) {
        error.why = Failure::line_closed;
        return error;
    }
    if (reply.size == 0) {
        error.why = Failure::no_reply;
        return error;
    }
    if (reply.size < reply.expected) {
        error.why = Failure::short_reply;
        return error;
    }
    if (check == Check::acknowledged && reply.bytes[0] != ack_byte(header)) {
        error.why = Failure::wrong_ack;
        error.got = reply.bytes[0];
        error.wanted = ack_byte(header);
        return error;
    }
    return std::nullopt;
}

}  // namespace qk42rt::protocol
