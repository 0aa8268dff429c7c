#include "instrument_model.h"

#include "protocol/frame.h"
#include "protocol/replies.h"

namespace qk42rt::sim {
namespace {

namespace op = protocol::op;
using Bytes = std::vector<std::uint8_t>;

template <std::size_t N>
Bytes bytes_of(const std::array<std::uint8_t, N>& array) {
    return Bytes(array.begin(), array.end());
}

ChannelState& channel_state(InstrumentState& state, int channel) {
    return state.channels[static_cast<std::size_t>(channel - 1)];
}

}  // namespace

// Each operation's effect on the instrument, and its reply.
struct InstrumentModel::Answering {
    InstrumentModel& model;
    std::uint8_t ack;

    InstrumentState& state() const { return model.state_; }
    Bytes acknowledged() const { return {ack}; }
    Bytes reading(int channel, float value) const {
        return bytes_of(protocol::reading_reply(channel_state(state(), channel).status, value));
    }

    Bytes operator()(const op::ReadVersion&) const {
        const InstrumentState& s = state();
        return bytes_of(protocol::version_reply(s.version, static_cast<std::uint8_t>(s.kind),
                                                s.info1, s.info2));
    }
    Bytes operator()(const op::SetDisplay& o) const {
        state().display_flag1 = o.flag1;
        state().display_flag2 = o.flag2;
        return model.system_echo(ack, protocol::display_subcode(o.flag1, o.flag2));
    }
    Bytes operator()(const op::SetKeyLock& o) const {
        state().key_locked = o.locked;
        return model.system_echo(ack, protocol::key_lock_subcode(o.locked));
    }
    Bytes operator()(const op::SetUnit& o) const {
        channel_state(state(), o.channel).unit_code = o.unit - 1;
        return acknowledged();
    }
    Bytes operator()(const op::ReadUnit& o) const {
        return {static_cast<std::uint8_t>(channel_state(state(), o.channel).unit_code)};
    }
    Bytes operator()(const op::ReadFlow& o) const {
        return reading(o.channel, model.flow_reading(o.channel - 1));
    }
    Bytes operator()(const op::ReadSetpoint& o) const {
        return reading(o.channel, channel_state(state(), o.channel).setpoint);
    }
    Bytes operator()(const op::ReadMaxflow& o) const {
        return reading(o.channel, channel_state(state(), o.channel).maxflow);
    }
    Bytes operator()(const op::ReadIntflow& o) const {
        return bytes_of(protocol::count_bytes(channel_state(state(), o.channel).intflow));
    }
    Bytes operator()(const op::ReadInttime&) const {
        return bytes_of(protocol::count_bytes(state().inttime));
    }
    Bytes operator()(const op::IntControl& o) const {
        model.integration_control(o.control);
        return acknowledged();
    }
    Bytes operator()(const op::ReadRatioTotal&) const {
        const InstrumentState& s = state();
        return bytes_of(protocol::ratio_total_reply(
            {s.ratio_channel + 1, s.ratio_value, s.ratio_channel2 + 1, s.ratio_channel3 + 1}));
    }
    Bytes operator()(const op::SetRatioTotal& o) const {
        InstrumentState& s = state();
        s.ratio_channel = static_cast<std::uint8_t>(o.config.channel - 1);
        s.ratio_value = static_cast<std::uint8_t>(o.config.value);
        s.ratio_channel2 = static_cast<std::uint8_t>(o.config.channel2 - 1);
        s.ratio_channel3 = static_cast<std::uint8_t>(o.config.channel3 - 1);
        return acknowledged();
    }
    Bytes operator()(const op::ReadOnOff&) const { return {state().on_off}; }
    Bytes operator()(const op::SetOnOff& o) const {
        state().on_off = static_cast<std::uint8_t>(o.state);
        return acknowledged();
    }
    Bytes operator()(const op::ControlRatioTotal& o) const {
        state().ratio_mode = protocol::low_byte(o.mode);  // the byte as it came
        return acknowledged();
    }
    Bytes operator()(const op::SetSetpoint& o) const {
        channel_state(state(), o.channel).setpoint = o.setpoint;
        return acknowledged();
    }
    Bytes operator()(const op::SetMaxflow& o) const {
        ChannelState& channel = channel_state(state(), o.channel);
        channel.maxflow = o.maxflow;
        channel.maxflow_code = protocol::low_byte(o.code);  // the byte as it came
        return acknowledged();
    }
};

InstrumentModel::InstrumentModel(ModelSettings settings, Clock::time_point start)
    : settings_(settings), last_(start), noise_rng_(settings.noise_seed) {}

void InstrumentModel::advance(Clock::time_point now) {
    if (now <= last_) return;
    const double seconds = std::chrono::duration<double>(now - last_).count();
    last_ = now;
    const auto means = advance_flows(state_, seconds, settings_.time_constant_s);
    advance_integration(state_, means, seconds, rest_);
}

std::vector<std::uint8_t> InstrumentModel::answer(const protocol::TypedRequest& request,
                                                  Clock::time_point now) {
    advance(now);
    const std::uint8_t ack = protocol::ack_byte(protocol::encode(request).header());
    return std::visit(Answering{*this, ack}, request.operation);
}

std::optional<std::vector<std::uint8_t>> InstrumentModel::answer(
    std::span<const std::uint8_t> request, Clock::time_point now) {
    const protocol::ParsedRequest parsed = protocol::parse_request(request);
    if (!parsed.request) return std::nullopt;
    return answer(*parsed.request, now);
}

// Display and key-lock replies echo the state after the change: the acknowledge byte, the
// sub-code received, the display flags (bit 1 flag 1, bit 0 flag 2), the key lock (0 or 1), 0.
std::vector<std::uint8_t> InstrumentModel::system_echo(std::uint8_t ack,
                                                       std::uint8_t subcode) const {
    const auto flags = static_cast<std::uint8_t>((state_.display_flag1 ? 0x02u : 0u) |
                                                 (state_.display_flag2 ? 0x01u : 0u));
    return {ack, subcode, flags, static_cast<std::uint8_t>(state_.key_locked ? 1 : 0), 0x00};
}

float InstrumentModel::flow_reading(int index) {
    const float flow = state_.channels[index].flow;
    const bool on = (state_.on_off >> index) & 1u;
    if (settings_.noise <= 0.0 || !on) return flow;
    std::normal_distribution<double> noise(0.0, settings_.noise);
    return static_cast<float>(flow + noise(noise_rng_));
}

void InstrumentModel::integration_control(int control) {
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
