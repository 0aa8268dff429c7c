#include "support/mosquitto.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "support/ser2net.h"

namespace qk42rt::testing {
namespace {

std::string temp_path(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("qk42rt-" + std::to_string(getpid()) + "-" + name))
        .string();
}

MqttPeer& peer_of(void* self) {
    return *static_cast<MqttPeer*>(self);
}

}  // namespace

Broker::Broker(const std::string& extra, std::uint16_t port)
    : port_(port ? port : free_loopback_port()) {
    config_path_ = temp_path("mosquitto-" + std::to_string(port_) + ".conf");
    std::ofstream config(config_path_);
    config << "listener " << port_ << " 127.0.0.1\n"
           << "persistence false\n"
           << "set_tcp_nodelay true\n"
           << "log_dest stderr\n"
           << "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n"
           << (extra.find("allow_anonymous") == std::string::npos ? "allow_anonymous true\n" : "")
           // Started as root, mosquitto would change to the user mosquitto, who cannot read
           // the test's password, access and key files (0600, in a folder of mode 0700).
           << (geteuid() == 0 ? "user root\n" : "") << extra << '\n';
    if (!config) throw std::runtime_error("cannot write " + config_path_);
    config.close();
    start();
}

Broker::~Broker() {
    process_.reset();
    std::remove(config_path_.c_str());
}

void Broker::start() {
    process_ = std::make_unique<ChildProcess>(kMosquittoProgram,
                                              std::vector<std::string>{"-c", config_path_});
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!listening_on_loopback(port_)) {
        if (std::chrono::steady_clock::now() > until) {
            throw std::runtime_error("mosquitto does not listen on port " + std::to_string(port_) +
                                     ": " + process_->so_far().err);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void Broker::stop() {
    process_->send_signal(SIGTERM);
    process_->finish(5000);
}

std::string Broker::log() {
    return process_->so_far(50).err;
}

MqttPeer::MqttPeer(std::uint16_t port, const Login& login) {
    static const int initialized = mosquitto_lib_init();
    (void)initialized;
    handle_ = mosquitto_new(nullptr, true, this);
    if (!handle_) throw std::runtime_error("cannot create an MQTT client");
    mosquitto_int_option(handle_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_int_option(handle_, MOSQ_OPT_TCP_NODELAY, 1);
    if (!login.username.empty()) {
        mosquitto_username_pw_set(handle_, login.username.c_str(), login.password.c_str());
    }
    if (!login.ca_file.empty()) {
        mosquitto_tls_set(handle_, login.ca_file.c_str(), nullptr, nullptr, nullptr, nullptr);
    }
    mosquitto_connect_v5_callback_set(
        handle_, [](mosquitto*, void* self, int rc, int, const mosquitto_property*) {
            MqttPeer& peer = peer_of(self);
            std::lock_guard lock(peer.mutex_);
            peer.connect_result_ = rc;
            peer.changed_.notify_all();
        });
    mosquitto_message_v5_callback_set(handle_, [](mosquitto*, void* self,
                                                  const mosquitto_message* m,
                                                  const mosquitto_property* p) {
        MqttPeer& peer = peer_of(self);
        MqttMessage message{m->topic,
                            std::string(static_cast<const char*>(m->payload),
                                        static_cast<std::size_t>(m->payloadlen)),
                            m->retain,
                            {}};
        void* data = nullptr;
        uint16_t length = 0;
        if (mosquitto_property_read_binary(p, MQTT_PROP_CORRELATION_DATA, &data, &length, false)) {
            message.correlation_data.assign(static_cast<const char*>(data), length);
            free(data);
        }
        std::lock_guard lock(peer.mutex_);
        if (peer.tap_) {
            peer.tap_(message);
            return;
        }
        peer.messages_.push_back(std::move(message));
        peer.changed_.notify_all();
    });
    const auto acknowledged = [](mosquitto*, void* self, int mid) {
        MqttPeer& peer = peer_of(self);
        std::lock_guard lock(peer.mutex_);
        peer.acknowledged_.push_back(mid);
        peer.changed_.notify_all();
    };
    mosquitto_publish_callback_set(handle_, acknowledged);
    mosquitto_subscribe_callback_set(handle_,
                                     [](mosquitto* m, void* self, int mid, int, const int*) {
                                         MqttPeer& peer = peer_of(self);
                                         (void)m;
                                         std::lock_guard lock(peer.mutex_);
                                         peer.acknowledged_.push_back(mid);
                                         peer.changed_.notify_all();
                                     });
    if (mosquitto_connect(handle_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(handle_) != MOSQ_ERR_SUCCESS) {
        mosquitto_destroy(handle_);
        throw std::runtime_error("cannot connect to the broker on port " + std::to_string(port));
    }
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(10), [&] { return connect_result_ >= 0; }) ||
        connect_result_ != 0) {
        lock.unlock();
        mosquitto_loop_stop(handle_, true);
        mosquitto_destroy(handle_);
        throw std::runtime_error("the broker refused the test client");
    }
}

MqttPeer::~MqttPeer() {
    mosquitto_disconnect(handle_);
    mosquitto_loop_stop(handle_, false);
    mosquitto_destroy(handle_);
}

void MqttPeer::wait_acknowledged(int mid) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(10), [&] {
            return std::find(acknowledged_.begin(), acknowledged_.end(), mid) !=
                   acknowledged_.end();
        })) {
        throw std::runtime_error("the broker did not acknowledge");
    }
}

void MqttPeer::subscribe(const std::string& pattern) {
    int mid = 0;
    if (mosquitto_subscribe_v5(handle_, &mid, pattern.c_str(), 1, 0, nullptr) != MOSQ_ERR_SUCCESS) {
        throw std::runtime_error("cannot subscribe to " + pattern);
    }
    wait_acknowledged(mid);
}

void MqttPeer::publish(const std::string& topic, const std::string& payload, bool retain,
                       const std::string& response_topic, const std::string& correlation) {
    mosquitto_property* props = nullptr;
    if (!response_topic.empty()) {
        mosquitto_property_add_string(&props, MQTT_PROP_RESPONSE_TOPIC, response_topic.c_str());
    }
    if (!correlation.empty()) {
        mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation.data(),
                                      static_cast<uint16_t>(correlation.size()));
    }
    int mid = 0;
    const int rc =
        mosquitto_publish_v5(handle_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                             payload.data(), 1, retain, props);
    mosquitto_property_free_all(&props);
    if (rc != MOSQ_ERR_SUCCESS) throw std::runtime_error("cannot publish on " + topic);
    wait_acknowledged(mid);
}

std::optional<MqttMessage> MqttPeer::wait_for(
    const std::string& topic, int timeout_ms,
    const std::function<bool(const MqttMessage&)>& match) {
    std::unique_lock lock(mutex_);
    std::optional<MqttMessage> found;
    changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
        for (const MqttMessage& m : messages_) {
            if (m.topic == topic && (!match || match(m))) {
                found = m;
                return true;
            }
        }
        return false;
    });
    return found;
}

std::vector<MqttMessage> MqttPeer::received(const std::string& topic) {
    std::lock_guard lock(mutex_);
    std::vector<MqttMessage> on_topic;
    for (const MqttMessage& m : messages_) {
        if (m.topic == topic) on_topic.push_back(m);
    }
    return on_topic;
}

void MqttPeer::tap(std::function<void(const MqttMessage&)> tap) {
    std::lock_guard lock(mutex_);
    tap_ = std::move(tap);
}

std::vector<MqttMessage> MqttPeer::received_below(const std::string& prefix) {
    std::lock_guard lock(mutex_);
    std::vector<MqttMessage> below;
    for (const MqttMessage& m : messages_) {
        if (m.topic.starts_with(prefix)) below.push_back(m);
    }
    return below;
}

void MqttPeer::forget() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

}  // namespace qk42rt::testing
