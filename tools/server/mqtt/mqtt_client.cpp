#include "mqtt_client.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <chrono>
#include <mutex>
#include <thread>

namespace qk42rt::server::mqtt {
namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr unsigned kFirstRetrySeconds = 1;
constexpr unsigned kLastRetrySeconds = 30;

Client& self_of(void* self) {
    return *static_cast<Client*>(self);
}

// Properties added one by one, freed however the publish ends.
struct Properties {
    mosquitto_property* list = nullptr;
    ~Properties() { mosquitto_property_free_all(&list); }
};

std::string reason_text(int reason) {
    return mosquitto_reason_string(reason);
}

}  // namespace

Client::Client(ConnectOptions options, OnConnect on_connect, OnMessage on_message, Log log)
    : options_(std::move(options)),
      on_connect_(std::move(on_connect)),
      on_message_(std::move(on_message)),
      log_(std::move(log)) {}

Client::~Client() {
    if (!handle_) return;
    if (started_) mosquitto_loop_stop(handle_, true);
    mosquitto_destroy(handle_);
}

std::optional<std::string> Client::start() {
    static std::once_flag initialized;
    std::call_once(initialized, [] { mosquitto_lib_init(); });
    // A clean start: no session is kept for us while we are away, so that a command sent
    // meanwhile never runs later.
    handle_ = mosquitto_new(options_.client_id.c_str(), true, this);
    if (!handle_) return "cannot create an MQTT client";
    mosquitto_int_option(handle_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    if (!options_.will_topic.empty()) {
        mosquitto_will_set_v5(handle_, options_.will_topic.c_str(),
                              static_cast<int>(options_.will_payload.size()),
                              options_.will_payload.data(), 1, true, nullptr);
    }
    if (!options_.username.empty()) {
        mosquitto_username_pw_set(handle_, options_.username.c_str(), options_.password.c_str());
    }
    if (options_.tls) {
        const auto file = [](const std::string& name) {
            return name.empty() ? nullptr : name.c_str();
        };
        // No CA file: the system's authorities. The broker's host name is checked as well.
        const char* ca = file(options_.ca_file);
        const int rc =
            mosquitto_tls_set(handle_, ca, ca ? nullptr : "/etc/ssl/certs",
                              file(options_.cert_file), file(options_.key_file), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            return "cannot use the TLS files given: " + std::string(mosquitto_strerror(rc));
        }
        mosquitto_tls_insecure_set(handle_, false);
    }
    mosquitto_reconnect_delay_set(handle_, kFirstRetrySeconds, kLastRetrySeconds, true);
    mosquitto_connect_v5_callback_set(
        handle_, [](mosquitto*, void* self, int rc, int, const mosquitto_property*) {
            self_of(self).on_connect(rc);
        });
    mosquitto_disconnect_v5_callback_set(
        handle_, [](mosquitto*, void* self, int rc, const mosquitto_property*) {
            self_of(self).on_disconnect(rc);
        });
    mosquitto_publish_v5_callback_set(
        handle_, [](mosquitto*, void* self, int mid, int reason, const mosquitto_property*) {
            self_of(self).on_publish(mid, reason);
        });
    mosquitto_subscribe_v5_callback_set(
        handle_, [](mosquitto*, void* self, int, int count, const int* granted,
                    const mosquitto_property*) { self_of(self).on_subscribe(count, granted); });
    mosquitto_message_v5_callback_set(
        handle_, [](mosquitto*, void* self, const mosquitto_message* message,
                    const mosquitto_property* props) { self_of(self).on_message(message, props); });
    // A broker not there yet is no error: the network thread keeps trying.
    const int rc =
        mosquitto_connect_async(handle_, options_.host.c_str(), options_.port, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        log_("MQTT: cannot reach " + options_.host + ":" + std::to_string(options_.port) + " (" +
             mosquitto_strerror(rc) + "); trying again");
    }
    if (mosquitto_loop_start(handle_) != MOSQ_ERR_SUCCESS) return "cannot start the MQTT client";
    started_ = true;
    return std::nullopt;
}

void Client::on_connect(int rc) {
    if (rc != 0) {
        if (last_refusal_.exchange(rc) != rc) {
            log_("MQTT: the broker refused the connection: " + reason_text(rc) +
                 "; trying again, backing off to " + std::to_string(kLastRetrySeconds) + " s");
        }
        return;
    }
    last_refusal_ = -1;
    connected_ = true;
    log_("MQTT: connected to " + options_.host + ":" + std::to_string(options_.port));
    on_connect_();
}

void Client::on_disconnect(int rc) {
    if (connected_.exchange(false) && rc != 0) {
        log_("MQTT: connection lost (" + reason_text(rc) + "); reconnecting");
    }
}

void Client::on_publish(int mid, int reason) {
    acknowledged_mid_ = mid;
    if (reason >= 0x80) log_("MQTT: the broker refused a publish: " + reason_text(reason));
}

void Client::on_subscribe(int count, const int* granted) {
    for (int i = 0; i < count; ++i) {
        if (granted[i] >= 0x80) {
            log_("MQTT: the broker refused a subscription: " + reason_text(granted[i]));
        }
    }
}

void Client::on_message(const void* raw, const void* raw_props) {
    const auto* message = static_cast<const mosquitto_message*>(raw);
    const auto* props = static_cast<const mosquitto_property*>(raw_props);
    Message m;
    m.topic = message->topic;
    if (message->payloadlen > 0) {
        m.payload.assign(static_cast<const char*>(message->payload),
                         static_cast<std::size_t>(message->payloadlen));
    }
    m.retained = message->retain;
    char* response = nullptr;
    if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &response, false)) {
        m.response_topic = response;
        free(response);
    }
    void* correlation = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &correlation, &length,
                                       false)) {
        m.correlation_data.assign(static_cast<const char*>(correlation), length);
        free(correlation);
    }
    on_message_(m);
}

bool Client::publish(const std::string& topic, const std::string& payload, bool retain,
                     const std::string& correlation_data) {
    Properties props;
    if (!correlation_data.empty()) {
        mosquitto_property_add_binary(&props.list, MQTT_PROP_CORRELATION_DATA,
                                      correlation_data.data(),
                                      static_cast<uint16_t>(correlation_data.size()));
    }
    int mid = 0;
    const int rc =
        mosquitto_publish_v5(handle_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                             payload.data(), 1, retain, props.list);
    if (rc != MOSQ_ERR_SUCCESS) return false;
    last_mid_ = mid;
    return true;
}

bool Client::subscribe(const std::string& pattern) {
    // Retain As Published: a broker otherwise clears the retain flag of a message it forwards
    // live, and a command published retained would run once now, yet not after a reconnect,
    // where it comes flagged. With the flag kept, the owner can refuse it every time.
    return mosquitto_subscribe_v5(handle_, nullptr, pattern.c_str(), 1,
                                  MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr) == MOSQ_ERR_SUCCESS;
}

void Client::stop(const std::string& topic, const std::string& payload, int wait_ms) {
    if (!started_) return;
    if (connected_ && publish(topic, payload, true)) {
        const int mid = last_mid_;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
        // The acknowledgement arrives on the network thread; a short sleep between looks
        // keeps this from spinning for the moment it takes.
        while (acknowledged_mid_ != mid && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    mosquitto_disconnect_v5(handle_, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
    mosquitto_loop_stop(handle_, false);
    started_ = false;
}

}  // namespace qk42rt::server::mqtt
