// An instrument whose every answer follows from the request alone, so a test can tell from a
// value which request it answers. Addresses listed in `silent` never answer.
#pragma once

#include <set>

#include "protocol/frame.h"
#include "support/pty_peer.h"

namespace qk42rt::testing {

// The flow, setpoint or maximum flow the echo instrument reports.
inline float echo_reading(int address, int channel, int code) {
    return static_cast<float>(address * 100 + channel * 10 + code);
}

inline std::vector<Chunk> echo_answer(const Bytes& request, const std::set<int>& silent = {}) {
    const std::uint8_t header = request[0];
    const int address = protocol::address_of(header);
    if (silent.count(address)) return {};
    const auto code = protocol::code_of(header);
    const auto ack = protocol::ack_byte(header);
    const int channel = request.size() > 1 ? request[1] + 1 : 0;
    Bytes reply;
    switch (code) {
        case protocol::Code::read_flow:
        case protocol::Code::read_setpoint:
        case protocol::Code::read_maxflow: {
            reply.push_back(static_cast<std::uint8_t>(channel - 1));
            const float value = echo_reading(address, channel, static_cast<int>(code));
            for (std::uint8_t b : protocol::float_bytes(value)) reply.push_back(b);
            break;
        }
        case protocol::Code::read_unit:
            reply = {static_cast<std::uint8_t>(channel + address)};
            break;
        case protocol::Code::read_intflow:
            reply = {static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(channel), 0xAA,
                     0x55};
            break;
        case protocol::Code::read_inttime:
            reply = {static_cast<std::uint8_t>(address), 0, 0, 0x7F};
            break;
        case protocol::Code::read_ratio_total:
            reply = {static_cast<std::uint8_t>(address - 1),
                     static_cast<std::uint8_t>(address * 10), 0x12};
            break;
        case protocol::Code::read_on_off:
            reply = {static_cast<std::uint8_t>(address * 3)};
            break;
        case protocol::Code::set_on_off:
            reply = {ack};
            break;
        case protocol::Code::system:
            if (request[1] == 0x00) {
                reply = {'1', '.', '2', 'C', static_cast<std::uint8_t>(address), 7};
            } else {
                reply = Bytes(5, 0x00);
            }
            break;
        default:
            reply = {ack};
            break;
    }
    return {Chunk{0, reply}};
}

}  // namespace qk42rt::testing
