// The MQTT topic tree below the base topic B, and the payloads on it:
//   B/status                   online / offline (retained; offline is also the last will)
//   B/L/status                 {"up":true} or {"up":false,"reason":"..."} (retained)
//   B/L/A/info                 the instrument's version, as the HTTP API gives it (retained)
//   B/L/A/C/flow               {"time":"...","flow":43.67,"status":0} (retained)
//   B/L/A/C/setpoint           {"setpoint":40.0} (retained)
//   B/L/A/onoff                {"state":15} (retained)
//   B/L/A/C/setpoint/set       a command: 40, 40.5 or {"setpoint":40}
//   B/L/A/onoff/set            a command: 15 or {"state":15}
//   B/L/A/error                why a command failed
//   B/L/request                the HTTP API over MQTT
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace qk42rt::server::mqtt {

using json = nlohmann::ordered_json;

// A command's topic, taken apart.
struct Command {
    enum class What { setpoint, on_off } what;
    std::string line;
    std::string address;  // as the topic wrote it; the route checks it
    std::string channel;  // empty for on/off
};

// `topic` as a command below `base`; nothing when it is none.
std::optional<Command> command_of(std::string_view base, std::string_view topic);

// The request topic's line: "bench" from "B/bench/request"; nothing for another topic.
std::optional<std::string> request_line_of(std::string_view base, std::string_view topic);

// A command's payload as the body of the HTTP write it stands for: a bare number (for on/off
// a bare whole number) or the body itself. Nothing when it is neither; the route checks the
// values.
std::optional<std::string> command_body(Command::What what, const std::string& payload);

// Where an event of the line's cache goes, and what it carries: the event's data without what
// the topic already says. Nothing for an event that has no topic.
struct Publication {
    std::string topic;
    std::string payload;
};
std::optional<Publication> publication_of(std::string_view base, const std::string& event_name,
                                          const std::string& event_data);

std::string line_status_payload(bool up, const std::string& reason);

}  // namespace qk42rt::server::mqtt
