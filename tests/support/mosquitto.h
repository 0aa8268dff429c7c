// Debian's mosquitto as a real broker on a free loopback port, with a configuration of the
// test's own (extra lines for TLS listeners, password files, access lists), and a small MQTT 5
// client on libmosquitto that keeps every message it gets, for the tests to wait on.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"

struct mosquitto;

namespace qk42rt::testing {

inline const std::string kMosquittoProgram = "/usr/sbin/mosquitto";

class Broker {
  public:
    // `extra` goes into the configuration after the listener; anonymous clients are allowed
    // unless it says otherwise. `port` 0: a free one.
    explicit Broker(const std::string& extra = "", std::uint16_t port = 0);
    ~Broker();
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    std::uint16_t port() const { return port_; }
    std::string url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }
    // What the broker logged so far.
    std::string log();
    // Stops it (SIGTERM) and starts it again on the same port with the same configuration.
    void stop();
    void start();

  private:
    std::string config_path_;
    std::uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

struct MqttMessage {
    std::string topic;
    std::string payload;
    bool retained = false;
    std::string correlation_data;
};

class MqttPeer {
  public:
    struct Login {
        std::string username;
        std::string password;
        std::string ca_file;  // TLS when set
    };
    // Connects (MQTT 5, clean start) and waits for the broker's answer; std::runtime_error
    // when it refuses or does not answer.
    MqttPeer(std::uint16_t port, const Login& login = {});
    ~MqttPeer();
    MqttPeer(const MqttPeer&) = delete;
    MqttPeer& operator=(const MqttPeer&) = delete;

    // QoS 1; waits for the broker's acknowledgement.
    void subscribe(const std::string& pattern);
    void publish(const std::string& topic, const std::string& payload, bool retain = false,
                 const std::string& response_topic = "", const std::string& correlation = "");

    // The first message (received so far or within `timeout_ms`) on `topic` for which `match`
    // holds; it stays among the received.
    std::optional<MqttMessage> wait_for(
        const std::string& topic, int timeout_ms = 5000,
        const std::function<bool(const MqttMessage&)>& match = nullptr);
    std::vector<MqttMessage> received(const std::string& topic);
    // Every message on a topic that starts with `prefix`, in the order received.
    std::vector<MqttMessage> received_below(const std::string& prefix);
    void forget();  // drops what was received
    // From now on, every message goes to `tap` (on the client's thread) instead of being kept:
    // for counting floods of them.
    void tap(std::function<void(const MqttMessage&)> tap);

  private:
    void wait_acknowledged(int mid);

    mosquitto* handle_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<MqttMessage> messages_;
    std::function<void(const MqttMessage&)> tap_;
    std::vector<int> acknowledged_;
    int connect_result_ = -1;
};

}  // namespace qk42rt::testing
