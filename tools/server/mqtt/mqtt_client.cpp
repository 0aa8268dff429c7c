#include "mqtt_client.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>

namespace qk42rt::server::mqtt {
namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr auto kFirstRetry = std::chrono::seconds(1);
constexpr auto kLastRetry = std::chrono::seconds(30);
// How long the loop waits for the socket at a time: the longest a stop waits for it.
constexpr int kLoopWakeMs = 250;
// A stop's DISCONNECT goes out within this long, or not at all.
constexpr auto kDisconnectWait = std::chrono::seconds(1);
// Lines said once until the next connection; past this many, the list starts again.
constexpr std::size_t kLoggedLimit = 1000;

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
    if (network_.joinable()) {
        network_.request_stop();
        network_.join();
    }
    if (handle_) mosquitto_destroy(handle_);
}

std::optional<std::string> Client::start() {
    static std::once_flag initialized;
    std::call_once(initialized, [] { mosquitto_lib_init(); });
    // A clean start: no session is kept for us while we are away, so that a command sent
    // meanwhile never runs later.
    handle_ = mosquitto_new(options_.client_id.c_str(), true, this);
    if (!handle_) return "cannot create an MQTT client";
    mosquitto_int_option(handle_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // Small packets at once: with Nagle's algorithm a publish waits for the broker's delayed
    // acknowledgement of the one before (tens of milliseconds), and QoS 1 flows back up.
    mosquitto_int_option(handle_, MOSQ_OPT_TCP_NODELAY, 1);
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
    // Our own thread runs the loop: publishes from other threads are queued for it.
    mosquitto_threaded_set(handle_, true);
    // libmosquitto's own word on a failure, such as why a certificate was not accepted.
    mosquitto_log_callback_set(handle_, [](mosquitto*, void* self, int level, const char* text) {
        if ((level & MOSQ_LOG_ERR) != 0) self_of(self).log_once(std::string("MQTT: ") + text);
    });
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
    mosquitto_subscribe_v5_callback_set(handle_, [](mosquitto*, void* self, int mid, int count,
                                                    const int* granted, const mosquitto_property*) {
        self_of(self).on_subscribe(mid, count, granted);
    });
    mosquitto_message_v5_callback_set(
        handle_, [](mosquitto*, void* self, const mosquitto_message* message,
                    const mosquitto_property* props) { self_of(self).on_message(message, props); });
    // A broker not there yet is no error: the network thread keeps trying.
    const int rc =
        mosquitto_connect_async(handle_, options_.host.c_str(), options_.port, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        log_once("MQTT: cannot reach " + options_.host + ":" + std::to_string(options_.port) +
                 " (" + mosquitto_strerror(rc) + "); trying again");
    }
    network_ = std::jthread([this](std::stop_token stop) { run(stop); });
    return std::nullopt;
}

void Client::run(std::stop_token stop) {
    std::chrono::seconds delay = kFirstRetry;
    while (!stop.stop_requested()) {
        const int rc = mosquitto_loop(handle_, kLoopWakeMs, 1);
        if (disconnecting_) {
            // Our DISCONNECT is out once the socket is closed.
            if (rc != MOSQ_ERR_SUCCESS ||
                std::chrono::steady_clock::now() >= disconnect_deadline_) {
                return;
            }
            continue;
        }
        if (rc == MOSQ_ERR_SUCCESS) continue;
        // Lost, refused, or never there: try again after the back-off, refusals included.
        if (connected_since_retry_.exchange(false)) {
            delay = kFirstRetry;
        }
        {
            std::unique_lock lock(retry_mutex_);
            retry_wake_.wait_for(lock, stop, delay, [this] { return disconnecting_.load(); });
        }
        if (stop.stop_requested() || disconnecting_) return;
        delay = std::min<std::chrono::seconds>(delay * 2, kLastRetry);
        const int again = mosquitto_reconnect_async(handle_);
        if (again != MOSQ_ERR_SUCCESS) {
            log_once("MQTT: cannot reach " + options_.host + ":" + std::to_string(options_.port) +
                     " (" + mosquitto_strerror(again) + "); trying again");
        }
    }
}

void Client::log_once(const std::string& text) {
    {
        std::lock_guard lock(logged_mutex_);
        if (logged_.size() >= kLoggedLimit) logged_.clear();
        if (!logged_.insert(text).second) return;
    }
    log_(text);
}

std::string Client::take_in_flight(int mid) {
    std::lock_guard lock(in_flight_mutex_);
    const auto found = in_flight_.find(mid);
    if (found == in_flight_.end()) return "a topic";
    std::string topic = std::move(found->second);
    in_flight_.erase(found);
    return topic;
}

void Client::on_connect(int rc) {
    if (rc != 0) {
        log_once("MQTT: the broker refused the connection: " + reason_text(rc) +
                 "; trying again, backing off to " + std::to_string(kLastRetry.count()) + " s");
        return;
    }
    {
        std::lock_guard lock(logged_mutex_);
        logged_.clear();  // whatever goes wrong from now on is news
    }
    connected_since_retry_ = true;
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
    const std::string topic = take_in_flight(mid);
    acknowledged_mid_ = mid;
    if (reason >= 0x80) {
        log_once("MQTT: the broker refused a publish on " + topic + ": " + reason_text(reason));
    }
}

void Client::on_subscribe(int mid, int count, const int* granted) {
    const std::string pattern = take_in_flight(mid);
    for (int i = 0; i < count; ++i) {
        if (granted[i] >= 0x80) {
            log_once("MQTT: the broker refused a subscription to " + pattern + ": " +
                     reason_text(granted[i]));
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
    // Held until the topic is noted: the acknowledgement may arrive before this returns, and
    // its callback waits for the note. libmosquitto calls back holding no lock of its own
    // that publishing takes.
    std::lock_guard lock(in_flight_mutex_);
    const int rc =
        mosquitto_publish_v5(handle_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                             payload.data(), 1, retain, props.list);
    if (rc != MOSQ_ERR_SUCCESS) return false;
    in_flight_[mid] = topic;
    last_mid_ = mid;
    return true;
}

bool Client::subscribe(const std::string& pattern) {
    int mid = 0;
    std::lock_guard lock(in_flight_mutex_);
    // Retain As Published: a broker otherwise clears the retain flag of a message it forwards
    // live, and a command published retained would run once now, yet not after a reconnect,
    // where it comes flagged. With the flag kept, the owner can refuse it every time.
    if (mosquitto_subscribe_v5(handle_, &mid, pattern.c_str(), 1, MQTT_SUB_OPT_RETAIN_AS_PUBLISHED,
                               nullptr) != MOSQ_ERR_SUCCESS) {
        return false;
    }
    in_flight_[mid] = pattern;
    return true;
}

void Client::stop(const std::string& topic, const std::string& payload, int wait_ms) {
    if (!network_.joinable()) return;
    if (connected_ && publish(topic, payload, true)) {
        const int mid = last_mid_;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
        // The acknowledgement arrives on the network thread; a short sleep between looks
        // keeps this from spinning for the moment it takes.
        while (acknowledged_mid_ != mid && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    disconnect_deadline_ = std::chrono::steady_clock::now() + kDisconnectWait;
    {
        std::lock_guard lock(retry_mutex_);
        disconnecting_ = true;
    }
    retry_wake_.notify_all();
    mosquitto_disconnect_v5(handle_, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
    network_.join();
}

}  // namespace qk42rt::server::mqtt
