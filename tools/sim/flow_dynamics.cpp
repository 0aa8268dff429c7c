#include "flow_dynamics.h"

#include <cmath>
#include <cstdint>

namespace qk42rt::sim {
namespace {

bool channel_on(const InstrumentState& state, int index) {
    return (state.on_off >> index) & 1u;
}

// Adds `amount` (never negative) to a wrapping 32-bit counter; the fraction stays in `rest`.
void add_to_counter(std::uint32_t& counter, double amount, double& rest) {
    // A flow of NaN or infinity (a setpoint written as such) must not reach the integer cast.
    if (!std::isfinite(amount) || amount <= 0.0) return;
    const double total = rest + amount;
    const double whole = std::floor(total);
    rest = total - whole;
    const auto step = static_cast<std::uint64_t>(std::fmod(whole, 4294967296.0));
    counter = static_cast<std::uint32_t>(counter + step);
}

}  // namespace

std::array<double, 8> advance_flows(InstrumentState& state, double seconds,
                                    double time_constant_s) {
    const double follow = time_constant_s > 0.0 ? 1.0 - std::exp(-seconds / time_constant_s) : 1.0;
    // The mean of target + (start - target) e^(-t/tau) over the step.
    const double lag =
        time_constant_s > 0.0 && seconds > 0.0 ? time_constant_s * follow / seconds : 0.0;
    std::array<double, 8> means{};
    for (int i = 0; i < 8; ++i) {
        ChannelState& channel = state.channels[i];
        const double target = channel_on(state, i) ? channel.setpoint : 0.0;
        means[i] = target + (channel.flow - target) * lag;
        const double flow = channel.flow + (target - channel.flow) * follow;
        // Snap the last rounding step, so a settled flow reads the setpoint exactly.
        const bool settled = std::fabs(target - flow) <= 1e-6 * std::fmax(1.0, std::fabs(target));
        channel.flow = static_cast<float>(settled ? target : flow);
    }
    return means;
}

void advance_integration(InstrumentState& state, const std::array<double, 8>& mean_flows,
                         double seconds, IntegrationRest& rest) {
    if (!state.integrating || seconds <= 0.0) return;
    const double minutes = seconds / 60.0;
    for (int i = 0; i < 8; ++i) {
        // Negative flow (a reversing sensor) does not count down a volume counter.
        add_to_counter(state.channels[i].intflow, std::fmax(0.0, mean_flows[i]) * minutes * 1000.0,
                       rest.intflow[i]);
    }
    add_to_counter(state.inttime, seconds * 1000.0, rest.inttime_ms);
}

}  // namespace qk42rt::sim
