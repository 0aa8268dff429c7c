// A connection to an MQTT 5 broker through libmosquitto: connects in the background,
// reconnects every second backing off to 30 s, and hands the owner what arrives. A clean start
// with no session expiry: the broker keeps nothing for us while we are away.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

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
    // The network loop. libmosquitto's own thread gives up for good on what it takes for fatal
    // (a login refused under MQTT 5, a failed TLS handshake), where a gateway must keep trying:
    // the broker's password file or certificate may be mended while it waits.
    void run(std::stop_token stop);
    void on_connect(int rc);
    void on_disconnect(int rc);
    void on_publish(int mid, int reason);
    void on_subscribe(int mid, int count, const int* granted);
    void on_message(const void* message, const void* props);
    // Logs `text` unless it was said since the last successful connection: a refusal repeated
    // at every retry, or on every publish to a denied topic, is said once.
    void log_once(const std::string& text);
    // The topic of a publish or subscription the broker has not acknowledged yet.
    std::string take_in_flight(int mid);

    ConnectOptions options_;
    OnConnect on_connect_;
    OnMessage on_message_;
    Log log_;
    mosquitto* handle_ = nullptr;
    std::atomic<bool> connected_{false};
    std::atomic<int> last_mid_{0};
    std::atomic<int> acknowledged_mid_{-1};
    std::atomic<bool> connected_since_retry_{false};  // the back-off starts again at 1 s

    std::mutex retry_mutex_;
    std::condition_variable_any retry_wake_;
    std::atomic<bool> disconnecting_{false};  // stop() sent DISCONNECT: the loop ends
    std::chrono::steady_clock::time_point disconnect_deadline_;

    std::mutex in_flight_mutex_;
    std::map<int, std::string> in_flight_;  // message id -> topic; ids wrap at 65535
    std::mutex logged_mutex_;
    std::set<std::string> logged_;

    std::jthread network_;  // last: stopped first
};

}  // namespace qk42rt::server::mqtt
