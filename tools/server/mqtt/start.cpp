// The MQTT front from the serve options: the broker's address, the login and the TLS files,
// checked before any line opened, become the face's connection.
#include "face.h"
#include "mqtt_front.h"
#include "mqtt_settings.h"

namespace qk42rt::server {

bool mqtt_built_in() {
    return true;
}

std::shared_ptr<void> start_mqtt(const ServeOptions& options, const ApiScope& scope,
                                 std::string& error) {
    if (!options.mqtt) return nullptr;
    const MqttOptions& m = *options.mqtt;
    const auto broker = parse_mqtt_broker(m.broker);
    if (const auto* refused = std::get_if<std::string>(&broker)) {
        error = "--mqtt: " + *refused;
        return nullptr;
    }
    mqtt::FaceOptions face;
    face.base = m.base;
    face.discovery = m.discovery;
    face.read_only = options.read_only;
    mqtt::ConnectOptions& c = face.connection;
    c.host = std::get<MqttBroker>(broker).host;
    c.port = std::get<MqttBroker>(broker).port;
    c.tls = std::get<MqttBroker>(broker).tls;
    c.client_id = m.client_id;
    c.username = m.username;
    if (!m.password_file.empty()) {
        c.password = read_mqtt_password(m.password_file, error);
        if (!error.empty()) return nullptr;
    }
    c.ca_file = m.ca_file;
    c.cert_file = m.cert_file;
    c.key_file = m.key_file;
    auto started = std::make_shared<mqtt::Face>(face, scope);
    if (auto failed = started->start()) {
        error = *failed;
        return nullptr;
    }
    return started;
}

}  // namespace qk42rt::server
