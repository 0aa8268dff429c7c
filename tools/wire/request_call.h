// A request read back into the operation that sends it and that operation's arguments, so
// that the operation itself (src/commands/) can be run again on the reply seen on the wire.
// The bytes are read by the core's request parser; this names what it found.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/command_table.h"
#include "protocol/exchange.h"
#include "protocol/outcome.h"

namespace qk42rt::wire {

struct Argument {
    std::string name;      // the JSON name: "channel", "setpoint"
    nlohmann::json value;  // 2, 1.5, "on"
    std::string shown;     // on the decoded line: "channel 2", or the value alone
};

// What the library made of a reply.
struct Verdict {
    std::optional<Error> error;  // empty when the operation succeeded
    std::string text;            // "acknowledged", "status 2, flow 100", "failed: short reply: ..."
    nlohmann::json result;       // the values the host gets, null on failure
};

struct Call {
    protocol::CommandInfo info;
    std::string operation;  // "read flow"
    int address = 1;
    std::vector<Argument> arguments;  // after the address
    // Runs the operation on `line` (whose port carries `reply`) and tells what came of it.
    std::function<Verdict(protocol::Line& line, std::span<const std::uint8_t> reply)> run;
};

struct ParsedRequest {
    std::optional<Call> call;           // set only when the bytes are a request the library sends
    std::string command;                // the command the header names, when it names one
    std::vector<std::string> problems;  // why the bytes are not such a request
    std::vector<std::string> notes;     // sent by the library as they are, but worth knowing
};

ParsedRequest parse_request(std::span<const std::uint8_t> bytes);

}  // namespace qk42rt::wire
