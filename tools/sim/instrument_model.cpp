#include "instrument_model.h"

#include "protocol/command_table.h"
#include "protocol/frame.h"

namespace qk42rt::sim {
namespace {

using protocol::Code;

std::uint8_t nibbles_to_byte(std::uint8_t high, std::uint8_t low) {
    return static_cast<std::uint8_t>(((high & 0x0Fu) << 4) | (low & 0x0Fu));
}

}  // namespace

InstrumentModel::InstrumentModel(ModelSettings settings, Clock::time_point start)
    : settings_(settings), last_(start), noise_rng_(settings.noise_seed) {}

void InstrumentModel::advance(Clock::time_point now) {
    if (now <= last_) return;
    const double seconds = std::chrono::duration<double>(now - last_).count();
    last_ = now;
    const auto means = advance_flows(state_, seconds, settings_.time_constant_s);
    advance_integration(state_, means, seconds, rest_);
}

std::optional<std::vector<std::uint8_t>> InstrumentModel::answer(
    std::span<const std::uint8_t> request, Clock::time_point now) {
    if (request.empty()) return std::nullopt;
    const std::uint8_t header = request[0];
    const Code code = protocol::code_of(header);
    if (request.size() != protocol::request_length(code)) return std::nullopt;
    advance(now);

    const std::uint8_t ack = protocol::ack_byte(header);
    // Every request with a channel carries it in byte 1, reduced to three bits.
    const int index = request.size() > 1 ? (request[1] & 0x07) : 0;
    ChannelState& channel = state_.channels[index];

    switch (code) {
        case Code::system:
            if (!protocol::command_info(code, request[1])) return std::nullopt;
            return answer_system(header, request[1]);
        case Code::set_unit:
            channel.unit_code = request[2] & 0x03;
            return std::vector<std::uint8_t>{ack};
        case Code::read_unit:
            return std::vector<std::uint8_t>{static_cast<std::uint8_t>(channel.unit_code)};
        case Code::read_flow:
            return reading(channel, flow_reading(index));
        case Code::read_setpoint:
            return reading(channel, channel.setpoint);
        case Code::read_maxflow:
            return reading(channel, channel.maxflow);
        case Code::read_intflow: {
            const std::uint32_t v = channel.intflow;
            return std::vector<std::uint8_t>{
                static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
        }
        case Code::read_inttime: {
            const std::uint32_t v = state_.inttime;
            return std::vector<std::uint8_t>{
                static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
        }
        case Code::int_control:
            integration_control(request[1]);
            return std::vector<std::uint8_t>{ack};
        case Code::read_ratio_total:
            return std::vector<std::uint8_t>{
                static_cast<std::uint8_t>(state_.ratio_channel & 0x07u), state_.ratio_value,
                static_cast<std::uint8_t>(((state_.ratio_channel2 & 0x07u) << 4) |
                                          (state_.ratio_channel3 & 0x07u))};
        case Code::set_ratio_total:
            state_.ratio_channel = static_cast<std::uint8_t>(index);
            state_.ratio_value = nibbles_to_byte(request[2], request[3]);
            state_.ratio_channel2 = static_cast<std::uint8_t>((request[4] >> 4) & 0x07u);
            state_.ratio_channel3 = static_cast<std::uint8_t>(request[4] & 0x07u);
            return std::vector<std::uint8_t>{ack};
        case Code::read_on_off:
            return std::vector<std::uint8_t>{state_.on_off};
        case Code::set_on_off:
            state_.on_off = nibbles_to_byte(request[1], request[2]);
            return std::vector<std::uint8_t>{ack};
        case Code::control_ratio_total:
            state_.ratio_mode = request[1];
            return std::vector<std::uint8_t>{ack};
        case Code::set_setpoint:
            channel.setpoint = protocol::unpacked_float(request.subspan<2, 5>());
            return std::vector<std::uint8_t>{ack};
        case Code::set_maxflow:
            channel.maxflow = protocol::unpacked_float(request.subspan<2, 5>());
            channel.maxflow_code = request[7];
            return std::vector<std::uint8_t>{ack};
    }
    return std::nullopt;
}

// Display and key-lock replies echo the state after the change: the acknowledge byte, the
// sub-code received, the display flags (bit 1 flag 1, bit 0 flag 2), the key lock (0 or 1), 0.
std::vector<std::uint8_t> InstrumentModel::answer_system(std::uint8_t header,
                                                         std::uint8_t subcode) {
    if (subcode == protocol::kSubReadVersion) {
        return {static_cast<std::uint8_t>(state_.version[0]),
                static_cast<std::uint8_t>(state_.version[1]),
                static_cast<std::uint8_t>(state_.version[2]),
                static_cast<std::uint8_t>(state_.kind),
                state_.info1,
                state_.info2};
    }
    if ((subcode & 0xFCu) == protocol::kSubDisplay) {
        state_.display_flag1 = (subcode & 0x02u) != 0;
        state_.display_flag2 = (subcode & 0x01u) != 0;
    } else {
        state_.key_locked = (subcode & protocol::kKeyLockedBit) != 0;
    }
    const auto flags = static_cast<std::uint8_t>((state_.display_flag1 ? 0x02u : 0u) |
                                                 (state_.display_flag2 ? 0x01u : 0u));
    return {protocol::ack_byte(header), subcode, flags,
            static_cast<std::uint8_t>(state_.key_locked ? 1 : 0), 0x00};
}

std::vector<std::uint8_t> InstrumentModel::reading(const ChannelState& channel, float value) const {
    const auto bytes = protocol::float_bytes(value);
    return {channel.status, bytes[0], bytes[1], bytes[2], bytes[3]};
}

float InstrumentModel::flow_reading(int index) {
    const float flow = state_.channels[index].flow;
    const bool on = (state_.on_off >> index) & 1u;
    if (settings_.noise <= 0.0 || !on) return flow;
    std::normal_distribution<double> noise(0.0, settings_.noise);
    return static_cast<float>(flow + noise(noise_rng_));
}

void InstrumentModel::integration_control(std::uint8_t control) {
    switch (control) {
        case kIntegrationStart:
            state_.integrating = true;
            break;
        case kIntegrationStop:
            state_.integrating = false;
            break;
        case kIntegrationReset:
            for (auto& channel : state_.channels) channel.intflow = 0;
            state_.inttime = 0;
            rest_ = {};
            break;
        default:
            break;  // unknown codes are acknowledged and change nothing
    }
}

}  // namespace qk42rt::sim
