// Home Assistant's MQTT discovery: a sensor for every channel's flow and a number for every
// setpoint, each instrument one device, all available while B/status says online.
#pragma once

#include <string>
#include <vector>

#include "served_line.h"
#include "topics.h"

namespace qk42rt::server::mqtt {

// The retained configurations for `line`'s instruments; `node` names this gateway in
// Home Assistant's topics and identifiers.
std::vector<Publication> discovery_configs(const std::string& base, const std::string& node,
                                           const ServedLine& line);

}  // namespace qk42rt::server::mqtt
