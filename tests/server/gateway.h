// The MQTT gateway as a user runs it: Debian's mosquitto on a free loopback port, the simulator
// on a pseudo-terminal, `qk42rt serve --mqtt` between them, and a subscriber to everything below
// the base topic. Shared by the MQTT test programs.
#pragma once

#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "protocol/request.h"
#include "served.h"
#include "support/mosquitto.h"

namespace qk42rt::testing {

using nlohmann::json;

inline const std::string kBase = "qk42/test";

// A message's payload as JSON; a discarded value when it is none.
json payload_json(const std::optional<MqttMessage>& message);
// `text` parsed; a discarded value when it is no JSON.
json parse_json(const std::string& text);

// Sends `request` (JSON text) on B/LINE/request with a response topic below test/replies/ and
// correlation data; the answer, parsed, or a discarded value after `timeout_ms`. `peer` must
// be subscribed to test/replies/#.
json mqtt_request(MqttPeer& peer, const std::string& line, const std::string& request,
                  const std::string& correlation, int timeout_ms = 10'000);

// The requests the simulator read, as hexadecimal text ("8E 00 04"), in their order.
class Requests {
  public:
    // For sim::Options::transcript.
    std::function<void(const std::string&)> sink();
    std::size_t mark() const;
    // The requests read after `mark`.
    std::vector<std::string> since(std::size_t mark) const;

  private:
    std::shared_ptr<std::mutex> mutex_ = std::make_shared<std::mutex>();
    std::shared_ptr<std::vector<std::string>> lines_ = std::make_shared<std::vector<std::string>>();
};

// The bytes the library sends for `request`, as the transcript shows them.
std::string encoded(const protocol::TypedRequest& request);

// The simulator's request counter after `qk42rt serve` started with `addresses` given: each
// version, then the first poll cycle with its settings.
std::uint64_t start_requests(std::size_t addresses);

struct GatewayOptions {
    std::vector<int> addresses{1};
    int poll_interval_ms = 100;           // 3600000: the first cycle only, a quiet line after
    std::vector<std::string> extra_args;  // after the --mqtt options
    std::string broker_config;            // Broker's extra lines
    std::function<void(sim::Simulator&)> before_start;  // the instruments' state to begin with
    std::string device;                                 // empty: the simulator's pseudo-terminal
    std::string broker_url;                             // empty: the broker's plain listener
    MqttPeer::Login peer_login;
};

class Gateway {
  public:
    explicit Gateway(GatewayOptions options = {});

    // The serve arguments: addresses, poll interval, --mqtt URL --mqtt-base kBase, extra.
    std::vector<std::string> serve_args() const;
    // Starts `qk42rt serve` (again) on the simulator's line and waits for its "listening:".
    void start_server(std::vector<std::string> more_args = {});
    // Waits until the simulator saw the start's requests and the subscriber B/status online
    // and every topic of the first poll cycle.
    // A broken start stops the test with the server's log.
    void wait_started();

    // Sends `request` (JSON text) on B/line1/request with a response topic and correlation
    // data; the answer, parsed, or a discarded value after `timeout_ms`.
    json request(const std::string& text, const std::string& correlation, int timeout_ms = 10'000);

    // An HTTP request to the server; its status and its body as JSON.
    std::pair<int, json> http(const std::string& method, const std::string& path,
                              const std::string& body = "");

    GatewayOptions options;
    Requests requests;
    sim::Simulator sim;
    Broker broker;
    std::unique_ptr<MqttPeer> peer;  // subscribed to kBase/# and the reply topics
    std::unique_ptr<Served> served;
};

}  // namespace qk42rt::testing
