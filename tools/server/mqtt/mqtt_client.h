// A connection to an MQTT 5 broker through libmosquitto's threaded client: connects in the
// background, reconnects every second backing off to 30 s, and hands the owner what arrives.
// A clean start with no session expiry: the broker keeps nothing for us while we are away.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct mosquitto;

namespace qk42rt::server::mqtt {

struct ConnectOptions {
    std::string host;
    int port = 1883;
    bool tls = false;
    std::string client_id;
    std::string username;  // empty: no login
    std::string password;
    std::string ca_file;    // with tls
    std::string cert_file;  // with tls, a client certificate
    std::string key_file;
    std::string will_topic;  // published by the broker with `will_payload` if we vanish
    std::string will_payload;
};

struct Message {
    std::string topic;
    std::string payload;
    bool retained = false;
    std::string response_topic;    // MQTT 5 Response Topic, empty when none
    std::string correlation_data;  // MQTT 5 Correlation Data, binary, empty when none
};

class Client {
  public:
    using OnConnect = std::function<void()>;
    using OnMessage = std::function<void(const Message&)>;
    using Log = std::function<void(const std::string&)>;

    Client(ConnectOptions options, OnConnect on_connect, OnMessage on_message, Log log);
    ~Client();  // stops the network thread without a clean disconnect (see stop())
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Starts connecting in the background. The error when the client cannot even be set up
    // (a certificate file that does not load, for example).
    std::optional<std::string> start();

    // QoS 1. False when it could not be queued (not connected).
    bool publish(const std::string& topic, const std::string& payload, bool retain,
                 const std::string& correlation_data = {});
    // QoS 1; a message arrives with the retain flag its publisher set (Retain As Published).
    bool subscribe(const std::string& pattern);
    bool connected() const { return connected_; }

    // Publishes `payload` on `topic` (retained), waits up to `wait_ms` for the broker to
    // acknowledge it, disconnects and stops the network thread.
    void stop(const std::string& topic, const std::string& payload, int wait_ms);

  private:
    void on_connect(int rc);
    void on_disconnect(int rc);
    void on_publish(int mid, int reason);
    void on_subscribe(int count, const int* granted);
    void on_message(const void* message, const void* props);

    ConnectOptions options_;
    OnConnect on_connect_;
    OnMessage on_message_;
    Log log_;
    mosquitto* handle_ = nullptr;
    bool started_ = false;
    std::atomic<bool> connected_{false};
    std::atomic<int> last_mid_{0};
    std::atomic<int> acknowledged_mid_{-1};
    std::atomic<int> last_refusal_{-1};  // logged once until the next success
};

}  // namespace qk42rt::server::mqtt
