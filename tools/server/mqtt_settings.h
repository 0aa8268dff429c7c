// The MQTT settings of `qk42rt serve`, whether from the command line or a configuration file:
// the broker's URL, the defaults taken from the host name, and what is refused before anything
// connects (plain text beyond loopback, a password file others may read, ...).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "serve_options.h"

namespace qk42rt::server {

inline constexpr int kMqttPort = 1883;
inline constexpr int kMqttTlsPort = 8883;

struct MqttBroker {
    bool tls = false;
    std::string host;  // a name, an IPv4 address, or an IPv6 address without its brackets
    int port = 0;
};

// mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (8883); an IPv6 address in brackets.
// Nothing is looked up. The error says what was expected.
std::variant<MqttBroker, std::string> parse_mqtt_broker(const std::string& url);

// The setting a refusal is about, for a message that names where it came from.
enum class MqttSetting {
    broker,
    base,
    client_id,
    username,
    password_file,
    ca_file,
    cert_file,
    key_file,
};

struct MqttRefusal {
    MqttSetting setting;
    std::string message;
};

// The key in a configuration file's [mqtt] table ("password_file"), and the command-line flag
// ("--mqtt-password-file"; "mqtt.cert_file" for the settings that have no flag).
std::string_view mqtt_key(MqttSetting setting);
std::string mqtt_flag(MqttSetting setting);

// Fills the defaults (base qk42/<host name>, client id qk42rt-<host name>) and checks every
// setting; the first refusal, if any. Reads the password file, opens nothing else.
std::optional<MqttRefusal> review_mqtt(MqttOptions& mqtt);

// review_mqtt() with the refusal as one line naming the command-line flag:
// "--mqtt-password-file: ...".
std::optional<std::string> check_mqtt(MqttOptions& mqtt);

// The password: the first line of `file`, without its line end. Empty, with the reason in
// `error`, when the file cannot be read or holds no password.
std::string read_mqtt_password(const std::string& file, std::string& error);

}  // namespace qk42rt::server
