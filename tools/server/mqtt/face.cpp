#include "face.h"

#include <iostream>

#include "answer.h"
#include "discovery.h"
#include "result_json.h"
#include "route_table.h"
#include "run_route.h"

namespace qk42rt::server::mqtt {
namespace {

// QoS 1 may deliver a request twice: the same answer goes out again within this long.
constexpr auto kRememberAnswers = std::chrono::seconds(60);
constexpr auto kPublisherLook = std::chrono::milliseconds(100);
constexpr int kOfflineWaitMs = 2000;

void log(const std::string& text) {
    std::cerr << "qk42rt serve: " << text << '\n';
}

AccessPolicy broker_policy(bool read_only) {
    AccessPolicy policy;
    policy.read_only = read_only;  // no token: the broker decides who may publish what
    return policy;
}

json error_payload(const std::string& topic, const json& body) {
    return {{"topic", topic},
            {"error", body.value("error", "the command failed")},
            {"reason", body.value("reason", "internal")}};
}

}  // namespace

Face::Face(FaceOptions options, const ApiScope& scope)
    : options_(std::move(options)), scope_(scope), router_(broker_policy(options_.read_only)) {
    add_api_routes(router_, scope_);
    for (const auto& line : scope_.lines) queues_[line->name()] = std::make_unique<JobQueue>();
}

Face::~Face() {
    if (client_) client_->stop(options_.base + "/status", "offline", kOfflineWaitMs);
    if (publisher_.joinable()) {
        publisher_.request_stop();
        publisher_.join();
    }
    queues_.clear();  // each finishes the command in flight
}

std::optional<std::string> Face::start() {
    ConnectOptions connection = options_.connection;
    connection.will_topic = options_.base + "/status";
    connection.will_payload = "offline";
    client_ = std::make_unique<Client>(
        connection, [this] { on_connect(); }, [this](const Message& m) { on_message(m); }, log);
    if (auto error = client_->start()) return error;
    publisher_ = std::jthread([this](std::stop_token stop) { publish_loop(stop); });
    return std::nullopt;
}

void Face::on_connect() {
    const std::string& b = options_.base;
    client_->subscribe(b + "/+/+/+/setpoint/set");
    client_->subscribe(b + "/+/+/onoff/set");
    client_->subscribe(b + "/+/request");
    if (options_.discovery) client_->subscribe("homeassistant/status");
    republish_ = true;
}

void Face::on_message(const Message& message) {
    // A retained command or request is not run, however it arrives: the broker hands it to
    // every new subscriber, so it may be an order given long ago (the subscriptions keep the
    // flag on live messages too).
    if (message.retained && message.topic != "homeassistant/status") return;
    if (message.topic == "homeassistant/status") {
        if (message.payload == "online") rediscover_ = true;
        return;
    }
    std::string line;
    std::function<void()> job;
    if (auto command = command_of(options_.base, message.topic)) {
        line = command->line;
        job = [this, command = *command, message] { run_command(command, message); };
    } else if (auto request_line = request_line_of(options_.base, message.topic)) {
        line = *request_line;
        job = [this, line, message] { run_request(line, message); };
    } else {
        return;
    }
    const auto queue = queues_.find(line);
    if (queue == queues_.end()) {
        job();  // no such line: answered at once, without an exchange
    } else {
        queue->second->post(std::move(job));
    }
}

void Face::run_command(const Command& command, const Message& message) {
    const bool setpoint = command.what == Command::What::setpoint;
    const std::string below = "/" + command.line + "/" + command.address;
    const std::string path = "/instruments/" + command.address +
                             (setpoint ? "/channels/" + command.channel + "/setpoint" : "/onoff");
    const auto fail = [&](const Answer& answer) {
        client_->publish(options_.base + below + "/error",
                         error_payload(message.topic, answer.body).dump(), false);
    };
    ServedLine* line = find_line(scope_.lines, command.line);
    const RouteLookup lookup = find_route("PUT", path);
    if (!line || !lookup.route) {
        fail(error_answer(404, "nothing is served at " + message.topic, "not_found"));
        return;
    }
    if (options_.read_only) {
        fail(error_answer(403, "this gateway is read-only: no write reaches the instrument",
                          "read_only"));
        return;
    }
    const auto body = command_body(command.what, message.payload);
    if (!body) {
        fail(error_answer(400,
                          setpoint ? "the payload is neither a number nor {\"setpoint\":N}"
                                   : "the payload is neither a whole number nor {\"state\":N}",
                          "bad_argument"));
        return;
    }
    const Answer answer = run_route(*lookup.route, {lookup.params, *body}, line->context());
    if (answer.status != 200) {
        fail(answer);
        return;
    }
    // The value written, as the state topic carries it: the route echoes what it wrote.
    const std::string state =
        setpoint ? below + "/" + command.channel + "/setpoint" : below + "/onoff";
    publish_state(options_.base + state, answer.body.dump());
}

void Face::run_request(const std::string& line, const Message& message) {
    const json request = json::parse(message.payload, nullptr, false);
    const bool object = request.is_object();
    std::string reply = message.response_topic;
    if (reply.empty() && object && request.contains("reply_to") &&
        request["reply_to"].is_string()) {
        reply = request["reply_to"];
    }
    std::optional<json> id;
    if (object && request.contains("id")) id = request["id"];
    std::string key;
    if (!message.correlation_data.empty()) {
        key = "c\n" + line + "\n" + reply + "\n" + message.correlation_data;
    } else if (id) {
        key = "i\n" + line + "\n" + reply + "\n" + id->dump();
    }
    if (!key.empty()) {
        if (auto again = answered_before(key)) {
            if (!reply.empty()) client_->publish(reply, *again, false, message.correlation_data);
            return;
        }
    }
    Answer answer;
    const bool well_formed = object && request.contains("method") &&
                             request["method"].is_string() && request.contains("path") &&
                             request["path"].is_string() &&
                             request["path"].get<std::string>().starts_with("/");
    if (!well_formed) {
        answer = error_answer(400, "a request is JSON with a method and a path", "bad_request");
    } else if (request["path"].get<std::string>().ends_with("/events")) {
        answer = error_answer(400,
                              "the event stream is not served over MQTT: subscribe to the "
                              "state topics instead",
                              "bad_request");
    } else {
        httplib::Request http;
        http.method = request["method"];
        http.path = "/api/v1/lines/" + line + request["path"].get<std::string>();
        if (request.contains("body")) http.body = request["body"].dump();
        httplib::Response response;
        router_.dispatch(http, response);
        answer.status = response.status;
        answer.body = json::parse(response.body, nullptr, false);
        if (answer.body.is_discarded()) answer.body = nullptr;
    }
    json payload{{"status", answer.status}, {"body", answer.body}};
    if (id) payload["id"] = *id;
    const std::string text = payload.dump(-1, ' ', false, json::error_handler_t::replace);
    if (!key.empty()) remember(key, text);
    if (reply.empty()) return;  // nowhere to answer: the request ran all the same
    client_->publish(reply, text, false, message.correlation_data);
}

std::optional<std::string> Face::answered_before(const std::string& key) {
    std::lock_guard lock(answers_mutex_);
    const auto found = answers_.find(key);
    if (found == answers_.end() ||
        std::chrono::steady_clock::now() - found->second.first > kRememberAnswers) {
        return std::nullopt;
    }
    return found->second.second;
}

void Face::remember(const std::string& key, const std::string& answer) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(answers_mutex_);
    std::erase_if(answers_,
                  [&](const auto& entry) { return now - entry.second.first > kRememberAnswers; });
    answers_[key] = {now, answer};
}

void Face::publish_state(const std::string& topic, const std::string& payload) {
    client_->publish(topic, payload, true);
}

void Face::publish_loop(std::stop_token stop) {
    const EventHub& hub = scope_.lines.front()->cache().hub();
    std::uint64_t last = hub.last_sequence();
    while (!stop.stop_requested()) {
        if (republish_.exchange(false)) {
            last = hub.last_sequence();
            publish_everything();
        }
        if (rediscover_.exchange(false)) publish_discovery();
        for (const Event& event : hub.events_after(last, kPublisherLook)) {
            last = event.sequence;
            if (!client_->connected()) continue;  // all of it goes again on reconnecting
            if (auto p = publication_of(options_.base, event.name, event.data)) {
                publish_state(p->topic, p->payload);
            }
        }
    }
}

void Face::publish_everything() {
    const std::string& b = options_.base;
    publish_state(b + "/status", "online");
    for (const auto& line : scope_.lines) {
        const std::string at = b + "/" + line->name() + "/";
        const LineState state = line->state();
        publish_state(at + "status", line_status_payload(state.up, state.reason));
        for (const int address : line->instruments().addresses()) {
            if (const auto version = line->instruments().version(address)) {
                publish_state(at + std::to_string(address) + "/info",
                              version_json(address, *version)
                                  .dump(-1, ' ', false, json::error_handler_t::replace));
            }
        }
        for (const auto& [key, channel] : line->cache().channels()) {
            const std::string where =
                at + std::to_string(key.first) + "/" + std::to_string(key.second) + "/";
            if (channel.reading) {
                const ChannelReading& r = *channel.reading;
                publish_state(where + "flow",
                              json{{"time", r.time},
                                   {"flow", r.flow ? float_json(*r.flow) : json(nullptr)},
                                   {"status", r.status}}
                                  .dump());
            }
            if (channel.setpoint) {
                publish_state(where + "setpoint",
                              json{{"setpoint", float_json(*channel.setpoint)}}.dump());
            }
        }
        for (const auto& [address, state_byte] : line->cache().on_offs()) {
            publish_state(at + std::to_string(address) + "/onoff",
                          json{{"state", state_byte}}.dump());
        }
    }
    if (options_.discovery) publish_discovery();
}

void Face::publish_discovery() {
    if (!options_.discovery) return;
    for (const auto& line : scope_.lines) {
        for (const Publication& config :
             discovery_configs(options_.base, options_.connection.client_id, *line)) {
            publish_state(config.topic, config.payload);
        }
    }
}

}  // namespace qk42rt::server::mqtt
