#include "gateway.h"

#include <gtest/gtest.h>

#include "protocol/text.h"

namespace qk42rt::testing {
namespace {

const std::string kReplies = "test/replies";

sim::Options sim_options(const GatewayOptions& options, Requests& requests) {
    sim::Options sim = test_sim_options(options.addresses);
    sim.transcript = requests.sink();
    return sim;
}

}  // namespace

json parse_json(const std::string& text) {
    return json::parse(text, nullptr, false);
}

json payload_json(const std::optional<MqttMessage>& message) {
    return message ? parse_json(message->payload) : json(json::value_t::discarded);
}

std::function<void(const std::string&)> Requests::sink() {
    return [mutex = mutex_, lines = lines_](const std::string& line) {
        // "   1.234567 rx 8E 00 04  (no reply)": the request's bytes.
        const std::size_t rx = line.find(" rx ");
        if (rx == std::string::npos) return;
        std::string bytes = line.substr(rx + 4);
        bytes = bytes.substr(0, bytes.find("  ("));
        std::lock_guard lock(*mutex);
        lines->push_back(bytes);
    };
}

std::size_t Requests::mark() const {
    std::lock_guard lock(*mutex_);
    return lines_->size();
}

std::vector<std::string> Requests::since(std::size_t mark) const {
    std::lock_guard lock(*mutex_);
    return {lines_->begin() + static_cast<std::ptrdiff_t>(std::min(mark, lines_->size())),
            lines_->end()};
}

std::string encoded(const protocol::TypedRequest& request) {
    return protocol::hex_bytes(protocol::encode(request).view());
}

std::uint64_t start_requests(std::size_t addresses) {
    return addresses * (1 + 8 + 8 + 1);
}

Gateway::Gateway(GatewayOptions gateway_options)
    : options(std::move(gateway_options)),
      sim(sim_options(options, requests)),
      broker(options.broker_config) {
    if (options.before_start) options.before_start(sim);
    peer = std::make_unique<MqttPeer>(broker.port(), options.peer_login);
    peer->subscribe(kBase + "/#");
    peer->subscribe(kReplies + "/#");
    start_server();
}

std::vector<std::string> Gateway::serve_args() const {
    std::vector<std::string> args;
    for (const int address : options.addresses) {
        args.insert(args.end(), {"--address", std::to_string(address)});
    }
    args.insert(args.end(), {"--poll-interval", std::to_string(options.poll_interval_ms), "--mqtt",
                             options.broker_url.empty() ? broker.url() : options.broker_url,
                             "--mqtt-base", kBase});
    args.insert(args.end(), options.extra_args.begin(), options.extra_args.end());
    return args;
}

void Gateway::start_server(std::vector<std::string> more_args) {
    std::vector<std::string> args = serve_args();
    args.insert(args.end(), more_args.begin(), more_args.end());
    served.reset();
    served =
        std::make_unique<Served>(options.device.empty() ? sim.slave_path() : options.device, args);
}

void Gateway::wait_started() {
    const std::uint64_t expected = start_requests(options.addresses.size());
    ASSERT_TRUE(eventually([&] { return sim.counters().requests >= expected; }, 10'000))
        << sim.counters().requests << " requests\n"
        << served->stderr_so_far();
    ASSERT_TRUE(peer->wait_for(kBase + "/status", 10'000,
                               [](const MqttMessage& m) { return m.payload == "online"; }))
        << served->stderr_so_far() << broker.log();
    // The on/off state is the first cycle's last reading: every topic of the start is out.
    for (const int address : options.addresses) {
        ASSERT_TRUE(peer->wait_for(kBase + "/line1/" + std::to_string(address) + "/onoff", 10'000))
            << served->stderr_so_far();
    }
}

json mqtt_request(MqttPeer& peer, const std::string& line, const std::string& request,
                  const std::string& correlation, int timeout_ms) {
    const std::string reply = kReplies + "/" + correlation;
    peer.publish(kBase + "/" + line + "/request", request, false, reply, correlation);
    return payload_json(peer.wait_for(reply, timeout_ms, [&](const MqttMessage& m) {
        return m.correlation_data == correlation;
    }));
}

json Gateway::request(const std::string& text, const std::string& correlation, int timeout_ms) {
    return mqtt_request(*peer, "line1", text, correlation, timeout_ms);
}

std::pair<int, json> Gateway::http(const std::string& method, const std::string& path,
                                   const std::string& body) {
    httplib::Client client = served->client();
    httplib::Request request;
    request.method = method;
    request.path = path;
    request.body = body;
    if (!body.empty()) request.set_header("Content-Type", "application/json");
    const auto result = client.send(request);
    if (!result) return {-1, json(json::value_t::discarded)};
    return {result->status, parse_json(result->body)};
}

}  // namespace qk42rt::testing
