// `qk42rt serve --config FILE`: the lines, HTTP and MQTT from a TOML file, checked whole before
// anything is opened. A refusal names the file, the line in it and the key:
//   gateway.toml:12: line[2].name: "be nch" is not a name (letters, digits, - and _)
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "commands/limits.h"
#include "mqtt_settings.h"
#include "serve_options.h"

namespace qk42rt::server {

// How often a line's poller may read the flows: the same for --poll-interval and the file.
inline constexpr commands::Limit kPollIntervalMs{50, 3'600'000};

// A line's name: letters, digits, - and _, at least one. It appears in topics and paths.
bool line_name_ok(std::string_view name);

// The options the file gives, defaults filled in (MQTT's too), or why it is refused.
std::variant<ServeOptions, std::string> read_serve_config(const std::string& path);

}  // namespace qk42rt::server
