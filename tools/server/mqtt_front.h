// The MQTT front of `qk42rt serve`, started when the options ask for one. The build chooses
// its file: mqtt/start.cpp where libmosquitto is (Linux), mqtt_absent.cpp elsewhere.
#pragma once

#include <memory>
#include <string>

#include "api.h"
#include "serve_options.h"

namespace qk42rt::server {

// Whether this build has the MQTT front; asked before any line opens, so that a configuration
// that wants MQTT from a build without it is refused with nothing opened.
bool mqtt_built_in();

// The running front (empty when none was asked for); it says offline and disconnects when the
// last owner lets it go. Empty with `error` set when it cannot start.
std::shared_ptr<void> start_mqtt(const ServeOptions& options, const ApiScope& scope,
                                 std::string& error);

}  // namespace qk42rt::server
