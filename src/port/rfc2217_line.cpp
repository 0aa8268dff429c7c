#include "port/rfc2217_line.h"

#include <algorithm>
#include <array>

#include "port/tcp_line.h"

namespace qk42rt {
namespace {

using telnet::kComPort;

constexpr std::uint32_t kBaudRate = 9600;
constexpr std::uint8_t kDataBits = 8;

std::vector<std::uint8_t> com_port_request(std::initializer_list<std::uint8_t> payload) {
    return telnet::subnegotiation(kComPort, std::vector<std::uint8_t>(payload));
}

// SET-CONTROL values fall into groups; the server answers each request with its group's state.
enum class ControlGroup { flow_out, flow_in, dtr, rts, other };

ControlGroup group_of(std::uint8_t value) {
    if (value <= 3 || (value >= 17 && value <= 19)) return ControlGroup::flow_out;
    if (value >= 13 && value <= 16) return ControlGroup::flow_in;
    if (value >= 7 && value <= 9) return ControlGroup::dtr;
    if (value >= 10 && value <= 12) return ControlGroup::rts;
    return ControlGroup::other;
}

}  // namespace

OpenResult Rfc2217Line::open(const std::string& host, std::uint16_t port) {
    const auto deadline = net::Clock::now() + kConnectLimit;
    OpenResult result;
    net::Connected connected = net::Socket::connect(host, port, kConnectLimit);
    if (!connected.socket) {
        result.reason = connected.reason;
        return result;
    }
    std::unique_ptr<Rfc2217Line> line(new Rfc2217Line(std::move(connected.socket)));
    if (auto refusal = line->negotiate(deadline)) {
        result.status = OpenStatus::settings_refused;
        result.reason = *refusal;
        return result;
    }
    result.status = OpenStatus::opened;
    result.port = std::move(line);
    return result;
}

std::optional<std::string> Rfc2217Line::negotiate(net::Clock::time_point deadline) {
    send(decoder_.opening_requests());
    bool settings_sent = false;
    std::array<std::uint8_t, 256> buffer;
    for (;;) {
        if (decoder_.refused(kComPort)) {
            return "the server refuses the COM-PORT-OPTION (is it in Telnet RFC 2217 mode?)";
        }
        if (decoder_.refused(telnet::kBinary)) {
            return "the server refuses binary transmission, so 8-bit data would not pass "
                   "unchanged";
        }
        if (!settings_sent && decoder_.we_will(kComPort)) {
            // DTR and RTS first: a server whose port has no modem lines may leave them
            // unanswered, and answers come in order, so the last answer ends the wait.
            std::vector<std::uint8_t> requests;
            for (const auto& request : {
                     com_port_request({com_port::kSetLineStateMask, 0}),
                     com_port_request({com_port::kSetModemStateMask, 0}),
                     com_port_request({com_port::kSetControl, com_port::kDtrOff}),
                     com_port_request({com_port::kSetControl, com_port::kRtsOff}),
                     com_port_request(
                         {com_port::kSetBaudRate, 0, 0, kBaudRate >> 8 & 0xFF, kBaudRate & 0xFF}),
                     com_port_request({com_port::kSetDataSize, kDataBits}),
                     com_port_request({com_port::kSetParity, com_port::kParityNone}),
                     com_port_request({com_port::kSetStopSize, com_port::kOneStopBit}),
                     com_port_request({com_port::kSetControl, com_port::kNoFlowControlOut}),
                     com_port_request({com_port::kSetControl, com_port::kNoFlowControlIn}),
                 }) {
                requests.insert(requests.end(), request.begin(), request.end());
            }
            send(requests);
            settings_sent = true;
        }
        if (settings_sent && settings_answered() && decoder_.server_will(telnet::kBinary) &&
            decoder_.we_will(telnet::kBinary)) {
            return settings_differ();
        }
        const std::size_t got = socket_->receive(buffer, deadline);
        if (got == 0) {
            if (socket_->closed()) return "the server closed the connection while negotiating";
            return "timed out waiting for the server's RFC 2217 answers (is it in Telnet RFC "
                   "2217 mode?)";
        }
        take_in(std::span(buffer.data(), got));  // data before the line is set up is dropped
    }
}

bool Rfc2217Line::settings_answered() const {
    return settings_.baud_rate && settings_.data_size && settings_.parity && settings_.stop_size &&
           settings_.flow_control_out && settings_.flow_control_in;
}

std::optional<std::string> Rfc2217Line::settings_differ() const {
    auto differs = [](const char* what, unsigned got, unsigned wanted) {
        return std::string("the server set ") + what + " " + std::to_string(got) + " instead of " +
               std::to_string(wanted);
    };
    if (*settings_.baud_rate != kBaudRate)
        return differs("baud rate", *settings_.baud_rate, kBaudRate);
    if (*settings_.data_size != kDataBits)
        return differs("data size", *settings_.data_size, kDataBits);
    if (*settings_.parity != com_port::kParityNone) {
        return differs("parity", *settings_.parity, com_port::kParityNone);
    }
    if (*settings_.stop_size != com_port::kOneStopBit) {
        return differs("stop size", *settings_.stop_size, com_port::kOneStopBit);
    }
    if (*settings_.flow_control_out != com_port::kNoFlowControlOut) {
        return differs("outbound flow control", *settings_.flow_control_out,
                       com_port::kNoFlowControlOut);
    }
    if (*settings_.flow_control_in != com_port::kNoFlowControlIn) {
        return differs("inbound flow control", *settings_.flow_control_in,
                       com_port::kNoFlowControlIn);
    }
    return std::nullopt;
}

std::size_t Rfc2217Line::take_in(std::span<std::uint8_t> raw) {
    const std::size_t data = decoder_.decode(raw);
    const auto answers = decoder_.take_answers();
    if (!answers.empty()) send(answers);
    for (const auto& sub : decoder_.take_subnegotiations()) note(sub);
    return data;
}

void Rfc2217Line::note(const telnet::Subnegotiation& answer) {
    if (answer.option != kComPort || answer.payload.size() < 2) return;
    const std::uint8_t command = answer.payload[0];
    const auto& value = answer.payload;
    switch (command) {
        case com_port::kServerOffset + com_port::kSetBaudRate:
            if (value.size() >= 5) {
                settings_.baud_rate = std::uint32_t{value[1]} << 24 |
                                      std::uint32_t{value[2]} << 16 | std::uint32_t{value[3]} << 8 |
                                      value[4];
            }
            break;
        case com_port::kServerOffset + com_port::kSetDataSize:
            settings_.data_size = value[1];
            break;
        case com_port::kServerOffset + com_port::kSetParity:
            settings_.parity = value[1];
            break;
        case com_port::kServerOffset + com_port::kSetStopSize:
            settings_.stop_size = value[1];
            break;
        case com_port::kServerOffset + com_port::kSetControl:
            switch (group_of(value[1])) {
                case ControlGroup::flow_out:
                    settings_.flow_control_out = value[1];
                    break;
                case ControlGroup::flow_in:
                    settings_.flow_control_in = value[1];
                    break;
                case ControlGroup::dtr:
                    settings_.dtr = value[1];
                    break;
                case ControlGroup::rts:
                    settings_.rts = value[1];
                    break;
                case ControlGroup::other:
                    break;
            }
            break;
        default:
            break;  // line and modem state notices, purge answers: nothing to keep
    }
}

void Rfc2217Line::clear_input() {
    std::array<std::uint8_t, 512> sink;
    for (;;) {
        const std::size_t got = socket_->receive_now(sink);
        if (got == 0) break;
        take_in(std::span(sink.data(), got));
        if (got < sink.size()) break;
    }
    // Sent with the request, so both go out in one segment.
    outgoing_ = com_port_request({com_port::kPurgeData, com_port::kPurgeServerReceive});
}

void Rfc2217Line::write(std::span<const std::uint8_t> bytes) {
    telnet::escape(bytes, outgoing_);
    send(outgoing_);
    outgoing_.clear();
    socket_->acknowledge_promptly();  // the purge answer comes apart from the reply
}

void Rfc2217Line::send(std::span<const std::uint8_t> bytes) {
    send_lock_.lock();
    socket_->send_all(bytes);  // never throws
    send_lock_.unlock();
}

std::size_t Rfc2217Line::read_some(std::span<std::uint8_t> buffer,
                                   std::chrono::milliseconds limit) {
    const auto deadline = net::Clock::now() + limit;
    // Raw bytes may be Telnet commands alone: wait on until data comes.
    for (;;) {
        const std::size_t raw = socket_->receive(buffer, deadline);
        if (raw == 0) return 0;  // the deadline, or the connection is gone
        const std::size_t data = take_in(buffer.first(raw));
        if (data > 0) return data;
    }
}

std::size_t Rfc2217Line::read(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) {
    const auto deadline = net::Clock::now() + limit;
    std::array<std::uint8_t, 512> raw;
    std::size_t got = 0;
    while (got < buffer.size()) {
        const std::size_t n = socket_->receive(raw, deadline);
        if (n == 0) break;  // the deadline, or the connection is gone
        // Whatever came in one piece is decoded at once: a purge answer before the reply
        // costs no extra wait. Data beyond the reply is what the next exchange clears anyway.
        const std::size_t data = take_in(std::span(raw.data(), n));
        const std::size_t used = std::min(data, buffer.size() - got);
        std::copy_n(raw.begin(), used, buffer.begin() + static_cast<std::ptrdiff_t>(got));
        got += used;
    }
    return got;
}

}  // namespace qk42rt
