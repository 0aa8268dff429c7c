#include "discovery.h"

#include "commands/limits.h"
#include "commands/words.h"

namespace qk42rt::server::mqtt {
namespace {

// Home Assistant takes letters, digits, _ and - in a discovery topic's node and object ids.
std::string id_part(const std::string& text) {
    std::string id;
    for (const char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-';
        id += plain ? c : '_';
    }
    return id;
}

}  // namespace

std::vector<Publication> discovery_configs(const std::string& base, const std::string& node,
                                           const ServedLine& line) {
    std::vector<Publication> configs;
    const std::string node_id = id_part(node);
    for (const int address : line.instruments().addresses()) {
        const std::string a = std::to_string(address);
        const std::string instrument = node_id + "_" + line.name() + "_" + a;
        json device{{"identifiers", json::array({instrument})},
                    {"name", "QK42 " + line.name() + " " + a},
                    {"manufacturer", "QK42"}};
        if (const auto version = line.instruments().version(address)) {
            const std::string text(version->text.begin(), version->text.end());
            device["model"] = std::string("QK42 ") + commands::kind_text(version->kind);
            device["sw_version"] = std::string(text.c_str());
        }
        const std::string prefix = base + "/" + line.name() + "/" + a + "/";
        for (int c = commands::limits::channel.low; c <= commands::limits::channel.high; ++c) {
            const std::string channel = std::to_string(c);
            const std::string object = instrument + "_" + channel;
            json sensor{{"name", "Flow " + channel},
                        {"unique_id", object + "_flow"},
                        {"state_topic", prefix + channel + "/flow"},
                        {"value_template", "{{ value_json.flow }}"},
                        {"availability_topic", base + "/status"},
                        {"payload_available", "online"},
                        {"payload_not_available", "offline"},
                        {"state_class", "measurement"},
                        {"device", device}};
            configs.push_back(
                {"homeassistant/sensor/" + node_id + "/" + object + "_flow/config", sensor.dump()});
            json number{{"name", "Setpoint " + channel},
                        {"unique_id", object + "_setpoint"},
                        {"state_topic", prefix + channel + "/setpoint"},
                        {"value_template", "{{ value_json.setpoint }}"},
                        {"command_topic", prefix + channel + "/setpoint/set"},
                        {"availability_topic", base + "/status"},
                        {"payload_available", "online"},
                        {"payload_not_available", "offline"},
                        {"min", 0},
                        {"max", 1000000},
                        {"step", 0.01},
                        {"mode", "box"},
                        {"device", device}};
            configs.push_back(
                {"homeassistant/number/" + node_id + "/" + object + "_setpoint/config",
                 number.dump()});
        }
    }
    return configs;
}

}  // namespace qk42rt::server::mqtt
