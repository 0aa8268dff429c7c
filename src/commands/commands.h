// The eighteen instrument operations. Each builds its request, runs one exchange on the
// line, judges the reply and decodes it; a failure says why.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "protocol/exchange.h"
#include "protocol/outcome.h"
#include "protocol/request.h"

namespace qk42rt::commands {

using protocol::Line;

// Channel readings: a value and the low three status bits.
struct Reading {
    float value = 0.0f;
    int status = 0;
    bool flagged_invalid = false;  // the flow reading's bit 3: the value is then -1.0
};
Outcome<Reading> read_flow(Line& line, int address, int channel);
Outcome<Reading> read_setpoint(Line& line, int address, int channel);
Outcome<Reading> read_maxflow(Line& line, int address, int channel);

// Channel settings.
Outcome<int> read_unit(Line& line, int address, int channel);
Outcome<Done> set_unit(Line& line, int address, int channel, int unit);
Outcome<Done> set_setpoint(Line& line, int address, int channel, float setpoint);
Outcome<Done> set_maxflow(Line& line, int address, int channel, float maxflow, int code);

// Flow integration: the 4 bytes as the instrument sent them.
using FourBytes = std::array<std::uint8_t, 4>;
Outcome<FourBytes> read_intflow(Line& line, int address, int channel);
Outcome<FourBytes> read_inttime(Line& line, int address);
Outcome<Done> int_control(Line& line, int address, int control);

// Ratio and total.
using RatioTotal = protocol::RatioTotal;
Outcome<RatioTotal> read_ratio_total(Line& line, int address);
Outcome<Done> set_ratio_total(Line& line, int address, const RatioTotal& config);
Outcome<Done> control_ratio_total(Line& line, int address, int mode);

// On/off state.
Outcome<int> read_on_off(Line& line, int address);
Outcome<Done> set_on_off(Line& line, int address, int state);

// System commands.
struct Version {
    std::optional<float> number;  // empty when the version text holds no number
    int kind = 0;                 // 0 for 'M', 1 for 'C'
    int info1 = 0;
    int info2 = 0;
    std::array<char, 3> text{};  // the three version characters as the instrument sent them
};
Outcome<Version> read_version(Line& line, int address);
Outcome<Done> set_display(Line& line, int address, int flag1, int flag2);
Outcome<Done> set_key_lock(Line& line, int address, int locked);

}  // namespace qk42rt::commands
