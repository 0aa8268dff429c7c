// Builds without libmosquitto (Windows): the server has no MQTT front, and says so when a
// configuration asks for one.
#include "mqtt_front.h"

namespace qk42rt::server {

bool mqtt_built_in() {
    return false;
}

std::shared_ptr<void> start_mqtt(const ServeOptions& options, const ApiScope&, std::string& error) {
    if (options.mqtt) error = "this build of qk42rt has no MQTT (the Linux gateway has)";
    return nullptr;
}

}  // namespace qk42rt::server
