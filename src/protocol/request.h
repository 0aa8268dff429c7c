// A request as a typed value: which operation, for which instrument, with which arguments.
// Both ends of the line meet here: the library's operations encode their requests from it,
// and the instrument (the simulator) and listeners on the line (decode, sniff) parse the bytes
// back into it. Encoding and parsing sit side by side so that neither end can drift.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "protocol/command_table.h"
#include "protocol/exchange.h"

namespace qk42rt::protocol {

// The instrument's ratio/total configuration: a channel, an 8-bit value, two more channels.
struct RatioTotal {
    int channel = 1;
    int value = 0;
    int channel2 = 1;
    int channel3 = 1;
    bool operator==(const RatioTotal&) const = default;
};

// One type per operation, with the arguments of the function that sends it. Encoding reduces
// each argument to its field as that function does; parsing gives the field's value back
// (a channel 1..8, a unit 1..4, a remainder -128..127, a control byte 0..255).
namespace op {
struct ReadVersion {
    bool operator==(const ReadVersion&) const = default;
};
struct SetDisplay {
    bool flag1 = false;
    bool flag2 = false;
    bool operator==(const SetDisplay&) const = default;
};
struct SetKeyLock {
    bool locked = false;
    bool operator==(const SetKeyLock&) const = default;
};
struct SetUnit {
    int channel = 1;
    int unit = 1;
    bool operator==(const SetUnit&) const = default;
};
struct ReadUnit {
    int channel = 1;
    bool operator==(const ReadUnit&) const = default;
};
struct ReadFlow {
    int channel = 1;
    bool operator==(const ReadFlow&) const = default;
};
struct ReadSetpoint {
    int channel = 1;
    bool operator==(const ReadSetpoint&) const = default;
};
struct ReadMaxflow {
    int channel = 1;
    bool operator==(const ReadMaxflow&) const = default;
};
struct ReadIntflow {
    int channel = 1;
    bool operator==(const ReadIntflow&) const = default;
};
struct ReadInttime {
    bool operator==(const ReadInttime&) const = default;
};
struct IntControl {
    int control = 0;
    bool operator==(const IntControl&) const = default;
};
struct ReadRatioTotal {
    bool operator==(const ReadRatioTotal&) const = default;
};
struct SetRatioTotal {
    RatioTotal config;
    bool operator==(const SetRatioTotal&) const = default;
};
struct ReadOnOff {
    bool operator==(const ReadOnOff&) const = default;
};
struct SetOnOff {
    int state = 0;
    bool operator==(const SetOnOff&) const = default;
};
struct ControlRatioTotal {
    int mode = 0;
    bool operator==(const ControlRatioTotal&) const = default;
};
struct SetSetpoint {
    int channel = 1;
    float setpoint = 0.0f;
    bool operator==(const SetSetpoint&) const = default;
};
struct SetMaxflow {
    int channel = 1;
    float maxflow = 0.0f;
    int code = 0;
    bool operator==(const SetMaxflow&) const = default;
};
}  // namespace op

using Operation =
    std::variant<op::ReadVersion, op::SetDisplay, op::SetKeyLock, op::SetUnit, op::ReadUnit,
                 op::ReadFlow, op::ReadSetpoint, op::ReadMaxflow, op::ReadIntflow, op::ReadInttime,
                 op::IntControl, op::ReadRatioTotal, op::SetRatioTotal, op::ReadOnOff, op::SetOnOff,
                 op::ControlRatioTotal, op::SetSetpoint, op::SetMaxflow>;

struct TypedRequest {
    int address = 1;
    Operation operation;
};

// The bytes the library sends for `request`.
Request encode(const TypedRequest& request);

// The command an operation sends: its code, lengths and reply check.
CommandInfo command_of(const Operation& operation);

// "QK42RT_ReadFlow" -> "read flow".
std::string operation_name(std::string_view function);

struct ParsedRequest {
    // The request as the instrument reads it: set when the bytes are a whole request of a
    // command the library sends (a header, the command's length, a known sub-code), each field
    // read as the instrument reads it, whatever else is wrong with them.
    std::optional<TypedRequest> request;
    std::string command;                // what the header names: "read flow", "system command"
    std::vector<std::string> problems;  // why the bytes are not what the library sends
    std::vector<std::string> notes;     // sent by the library as they are, but worth knowing

    // The bytes are a request exactly as the library sends it.
    bool as_sent() const { return request.has_value() && problems.empty(); }
};

ParsedRequest parse_request(std::span<const std::uint8_t> bytes);

}  // namespace qk42rt::protocol
