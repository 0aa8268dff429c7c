#include "mqtt_settings.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "access.h"
#include "file_privacy.h"
#include "port/device_string.h"

namespace qk42rt::server {
namespace {

constexpr std::string_view kPlainScheme = "mqtt://";
constexpr std::string_view kTlsScheme = "mqtts://";
// MQTT carries strings with a 16-bit length.
constexpr std::size_t kMqttStringLimit = 65535;

// A file the server will read at start, checked now so that a typo stops it before any line
// opens rather than when it first connects.
std::optional<std::string> unreadable(const std::string& what, const std::string& path) {
    std::ifstream file(path);
    if (!file) return "cannot read the " + what + " " + path + ": " + std::strerror(errno);
    return std::nullopt;
}

using Refusal = std::optional<MqttRefusal>;

Refusal transport_problem(const MqttOptions& mqtt, const MqttBroker& broker) {
    const std::pair<MqttSetting, const std::string*> certificates[] = {
        {MqttSetting::ca_file, &mqtt.ca_file},
        {MqttSetting::cert_file, &mqtt.cert_file},
        {MqttSetting::key_file, &mqtt.key_file}};
    if (!broker.tls) {
        // Refused rather than ignored: whoever names a certificate expects the connection to
        // be encrypted.
        for (const auto& [setting, file] : certificates) {
            if (file->empty()) continue;
            return MqttRefusal{
                setting,
                "certificates are for mqtts:// only; plain mqtt:// would send "
                "everything unencrypted: use mqtts://" +
                    host_port_text(broker.host, static_cast<std::uint16_t>(broker.port))};
        }
        if (!loopback_host(broker.host) && !mqtt.insecure) {
            return MqttRefusal{
                MqttSetting::broker,
                "plain mqtt:// to " + broker.host +
                    " would send the login and every reading unencrypted beyond this machine: "
                    "use mqtts://, or accept that with insecure = true (--mqtt-insecure)"};
        }
    }
    if (!mqtt.cert_file.empty() && mqtt.key_file.empty()) {
        return MqttRefusal{MqttSetting::cert_file, "a client certificate needs its key_file too"};
    }
    if (mqtt.cert_file.empty() && !mqtt.key_file.empty()) {
        return MqttRefusal{MqttSetting::key_file, "a client key needs its cert_file too"};
    }
    const std::string_view what[] = {"CA file", "certificate file", "key file"};
    for (std::size_t i = 0; i < std::size(certificates); ++i) {
        const auto& [setting, file] = certificates[i];
        if (file->empty()) continue;
        if (auto error = unreadable(std::string(what[i]), *file)) {
            return MqttRefusal{setting, *error};
        }
    }
    // Group access is left alone: Debian keeps keys readable by the group ssl-cert.
    std::string ignored;
    const auto key = mqtt.key_file.empty() ? std::nullopt : file_privacy(mqtt.key_file, ignored);
    if (key && key->others_may_use) {
        return MqttRefusal{MqttSetting::key_file, "the key file " + mqtt.key_file +
                                                      " may be read by anyone (mode " + key->mode +
                                                      "): chmod o-rwx " + mqtt.key_file};
    }
    return std::nullopt;
}

Refusal login_problem(const MqttOptions& mqtt) {
    if (mqtt.username.find('\0') != std::string::npos || mqtt.username.size() > kMqttStringLimit) {
        return MqttRefusal{MqttSetting::username, "not a user name MQTT can carry"};
    }
    if (mqtt.password_file.empty()) return std::nullopt;
    if (mqtt.username.empty()) {
        return MqttRefusal{MqttSetting::password_file,
                           "a password needs a username too (username, --mqtt-username)"};
    }
    std::string error;
    if (read_mqtt_password(mqtt.password_file, error).empty()) {
        return MqttRefusal{MqttSetting::password_file, error};
    }
    return std::nullopt;
}

// The defaults filled in first, so that a host name no topic can hold is refused too.
Refusal naming_problem(MqttOptions& mqtt) {
    if (mqtt.base.empty() || mqtt.client_id.empty()) {
        const std::string host = host_name();
        if (host.empty()) {
            return MqttRefusal{mqtt.base.empty() ? MqttSetting::base : MqttSetting::client_id,
                               "this machine's host name is unknown: give it"};
        }
        if (mqtt.base.empty()) mqtt.base = "qk42/" + host;
        if (mqtt.client_id.empty()) mqtt.client_id = "qk42rt-" + host;
    }
    const std::string& base = mqtt.base;
    if (base.find('\0') != std::string::npos || base.size() > kMqttStringLimit) {
        return MqttRefusal{MqttSetting::base, "not a topic MQTT can carry"};
    }
    if (base.ends_with('/')) {
        return MqttRefusal{MqttSetting::base, "\"" + base + "\" ends with /: leave it out"};
    }
    if (base.find_first_of("+#") != std::string::npos) {
        return MqttRefusal{MqttSetting::base, "\"" + base +
                                                  "\" holds a wildcard (+ or #), which no "
                                                  "topic that is published to may hold"};
    }
    if (base.starts_with('$')) {
        return MqttRefusal{MqttSetting::base,
                           "\"" + base + "\": topics starting with $ are the broker's own"};
    }
    if (mqtt.client_id.find('\0') != std::string::npos ||
        mqtt.client_id.size() > kMqttStringLimit) {
        return MqttRefusal{MqttSetting::client_id, "not a client id MQTT can carry"};
    }
    return std::nullopt;
}

}  // namespace

std::variant<MqttBroker, std::string> parse_mqtt_broker(const std::string& url) {
    const std::string bad = "bad broker \"" + url + "\": ";
    MqttBroker broker;
    std::string_view rest(url);
    if (rest.starts_with(kTlsScheme)) {
        broker.tls = true;
        rest.remove_prefix(kTlsScheme.size());
    } else if (rest.starts_with(kPlainScheme)) {
        rest.remove_prefix(kPlainScheme.size());
    } else {
        return bad + "expected mqtt://HOST[:PORT] or mqtts://HOST[:PORT]";
    }
    if (rest.find('@') != std::string_view::npos) {
        return bad + "no login in the URL; give the username and a password file on their own";
    }
    if (rest.ends_with('/')) rest.remove_suffix(1);
    if (rest.find_first_of("/?#") != std::string_view::npos) {
        return bad + "nothing may follow HOST[:PORT]";
    }
    // The port may be left out; an IPv6 address then still ends in ']'.
    const bool bracketed = rest.starts_with('[');
    const bool has_port = bracketed ? rest.find("]:") != std::string_view::npos
                                    : rest.find(':') != std::string_view::npos;
    std::string host_port(rest);
    if (!has_port) host_port += ":" + std::to_string(broker.tls ? kMqttTlsPort : kMqttPort);
    const auto parsed = parse_host_port(host_port);
    if (const auto* error = std::get_if<DeviceStringError>(&parsed)) return bad + error->message;
    broker.host = std::get<HostPort>(parsed).host;
    broker.port = std::get<HostPort>(parsed).port;
    return broker;
}

std::string_view mqtt_key(MqttSetting setting) {
    switch (setting) {
        case MqttSetting::broker:
            return "broker";
        case MqttSetting::base:
            return "base";
        case MqttSetting::client_id:
            return "client_id";
        case MqttSetting::username:
            return "username";
        case MqttSetting::password_file:
            return "password_file";
        case MqttSetting::ca_file:
            return "ca_file";
        case MqttSetting::cert_file:
            return "cert_file";
        case MqttSetting::key_file:
            return "key_file";
    }
    return "";
}

std::string mqtt_flag(MqttSetting setting) {
    switch (setting) {
        case MqttSetting::broker:
            return "--mqtt";
        case MqttSetting::base:
            return "--mqtt-base";
        case MqttSetting::username:
            return "--mqtt-username";
        case MqttSetting::password_file:
            return "--mqtt-password-file";
        case MqttSetting::ca_file:
            return "--mqtt-ca-file";
        case MqttSetting::client_id:
        case MqttSetting::cert_file:
        case MqttSetting::key_file:
            break;
    }
    return "mqtt." + std::string(mqtt_key(setting));
}

std::string read_mqtt_password(const std::string& file, std::string& error) {
    std::string why;
    const auto privacy = file_privacy(file, why);
    if (!privacy) {
        error = "cannot read the password file " + file + ": " + why;
        return {};
    }
    // A pipe or a device could keep the server waiting at start, or never end.
    if (!privacy->regular) {
        error = "the password file " + file + " is no regular file";
        return {};
    }
    if (privacy->group_may_use || privacy->others_may_use) {
        error = "the password file " + file + " may be read by others than its owner (mode " +
                privacy->mode + "): chmod 600 " + file;
        return {};
    }
    std::ifstream in(file, std::ios::binary);
    std::string text(kMqttStringLimit + 2, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad() || (!in && !in.eof())) {
        error = "cannot read the password file " + file + ": " + std::strerror(errno);
        return {};
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    std::string password = text.substr(0, text.find('\n'));
    if (password.ends_with('\r')) password.pop_back();
    if (password.empty()) {
        error = "the password file " + file + " holds no password on its first line";
        return {};
    }
    if (password.size() > kMqttStringLimit) {
        error = "the password in " + file + " is longer than MQTT carries (65535 bytes)";
        return {};
    }
    return password;
}

std::optional<MqttRefusal> review_mqtt(MqttOptions& mqtt) {
    const auto parsed = parse_mqtt_broker(mqtt.broker);
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        return MqttRefusal{MqttSetting::broker, *error};
    }
    if (auto refusal = transport_problem(mqtt, std::get<MqttBroker>(parsed))) return refusal;
    if (auto refusal = login_problem(mqtt)) return refusal;
    return naming_problem(mqtt);
}

std::optional<std::string> check_mqtt(MqttOptions& mqtt) {
    const std::optional<MqttRefusal> refusal = review_mqtt(mqtt);
    if (!refusal) return std::nullopt;
    return mqtt_flag(refusal->setting) + ": " + refusal->message;
}

}  // namespace qk42rt::server
