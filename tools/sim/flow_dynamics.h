// How an instrument's state moves with time: each channel's flow follows its target with a
// first-order response, and while integration runs, flow and time are summed up.
#pragma once

#include <array>

#include "simulator.h"

namespace qk42rt::sim {

// Fractions below the counters' resolution, carried so that many small steps add up exactly.
struct IntegrationRest {
    std::array<double, 8> intflow{};
    double inttime_ms = 0.0;
};

// A channel is on while bit (channel - 1) of the on/off byte is set. An open channel's flow
// moves toward its setpoint, a closed one's toward zero; time constant 0 jumps at once.
// Returns each channel's mean flow over the step, exact for the first-order response.
std::array<double, 8> advance_flows(InstrumentState& state, double seconds, double time_constant_s);

// Integrated flow counts thousandths of (flow unit x minute): one minute at 1.0 adds 1000.
// Integration time counts milliseconds. Both are 32-bit counters that wrap around.
void advance_integration(InstrumentState& state, const std::array<double, 8>& mean_flows,
                         double seconds, IntegrationRest& rest);

}  // namespace qk42rt::sim
