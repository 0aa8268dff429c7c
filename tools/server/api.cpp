#include "api.h"

#include <cstring>
#include <string>

#include "http_reply.h"
#include "request_body.h"

namespace qk42rt::server {
namespace {

namespace cmd = qk42rt::commands;
using httplib::Request;
using httplib::Response;
// Keys in the order written, as the API documents them.
using json = nlohmann::ordered_json;
using protocol::Line;

constexpr auto kKeepAliveEvery = std::chrono::seconds(15);
// Integration control words, as the client's `integration` command takes them.
constexpr std::initializer_list<std::pair<const char*, int>> kIntegrationWords = {
    {"start", 0x01}, {"stop", 0x02}, {"reset", 0x03}};

const char* const kAddress = "/api/v1/instruments/([0-9]{1,9})";
const char* const kChannel = "/api/v1/instruments/([0-9]{1,9})/channels/([0-9]{1,9})";

std::string path(const char* base, const char* rest) {
    return std::string(base) + rest;
}

json flow_json(const cmd::Reading& reading) {
    return reading.flagged_invalid ? json(nullptr) : json_float(reading.value);
}

json four_bytes_json(const cmd::FourBytes& bytes) {
    char text[9];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X", bytes[0], bytes[1], bytes[2], bytes[3]);
    const std::uint32_t count = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24;
    return {{"bytes", text}, {"count", count}};
}

json ratio_total_json(const cmd::RatioTotal& r) {
    return {{"channel", r.channel},
            {"value", r.value},
            {"channel2", r.channel2},
            {"channel3", r.channel3}};
}

// The handlers' common steps.
class Api {
  public:
    explicit Api(Context& context) : c_(context) {}

    // The address of the path when it is served; answers 404 otherwise.
    bool address(const std::smatch& match, Response& response, int& address) const {
        address = std::stoi(match[1]);
        if (c_.instruments.serves(address)) return true;
        send_error(response, 404, "address " + match[1].str() + " is not served here", "not_found");
        return false;
    }

    bool channel(const std::smatch& match, Response& response, int& address, int& channel) const {
        if (!this->address(match, response, address)) return false;
        channel = std::stoi(match[2]);
        if (channel >= 1 && channel <= 8) return true;
        send_error(response, 404, "channel " + match[2].str() + " does not exist (1 to 8)",
                   "not_found");
        return false;
    }

    // The body when it parses and every field read from it passed; answers 400 otherwise.
    static bool body_ok(const RequestBody& body, Response& response) {
        if (body.ok()) return true;
        send_error(response, 400, body.error(), "bad_argument");
        return false;
    }

    // Runs one operation of the core in its turn; its value goes to `answer`.
    template <class Operation, class Answer>
    void one(Response& response, Operation operation, Answer answer) const {
        using Value = std::decay_t<decltype(operation(std::declval<Line&>()).value())>;
        std::optional<Value> value;
        const auto result = c_.worker.run([&](Line& line) -> JobResult {
            auto outcome = timed(c_.metrics, [&] { return operation(line); });
            if (!outcome.ok()) return outcome.error();
            value = outcome.value();
            return std::nullopt;
        });
        if (finished(response, result)) answer(*value);
    }

    // True when the job ran to its end; otherwise answers why not.
    bool finished(Response& response, const std::optional<JobResult>& result) const {
        if (!result) {
            send_line_down(response, c_.worker.state().reason);
            return false;
        }
        if (*result) {
            send_failure(response, **result);
            return false;
        }
        return true;
    }

    Context& c_;
};

void add_channel_routes(Router& router, Api api) {
    Context& c = api.c_;
    router.add(
        "GET", path(kChannel, "/flow").c_str(), Kind::read,
        [api, &c](const Request&, Response& res, const std::smatch& m) {
            int a = 0, ch = 0;
            if (!api.channel(m, res, a, ch)) return;
            api.one(
                res, [&](Line& line) { return cmd::read_flow(line, a, ch); },
                [&](const cmd::Reading& r) {
                    c.cache.reading(
                        a, ch,
                        {r.flagged_invalid ? std::nullopt : std::optional<float>(r.value), r.status,
                         utc_now()});
                    send_json(res, {{"channel", ch}, {"flow", flow_json(r)}, {"status", r.status}});
                });
        });
    router.add(
        "GET", path(kChannel, "/setpoint").c_str(), Kind::read,
        [api, &c](const Request&, Response& res, const std::smatch& m) {
            int a = 0, ch = 0;
            if (!api.channel(m, res, a, ch)) return;
            api.one(
                res, [&](Line& line) { return cmd::read_setpoint(line, a, ch); },
                [&](const cmd::Reading& r) {
                    c.cache.setpoint(a, ch, r.value);
                    send_json(res, {{"setpoint", json_float(r.value)}, {"status", r.status}});
                });
        });
    router.add("PUT", path(kChannel, "/setpoint").c_str(), Kind::write,
               [api, &c](const Request& req, Response& res, const std::smatch& m) {
                   int a = 0, ch = 0;
                   if (!api.channel(m, res, a, ch)) return;
                   RequestBody body(req.body);
                   const float setpoint = body.number("setpoint");
                   if (!Api::body_ok(body, res)) return;
                   api.one(
                       res, [&](Line& line) { return cmd::set_setpoint(line, a, ch, setpoint); },
                       [&](Done) {
                           c.cache.setpoint(a, ch, setpoint);
                           send_json(res, {{"setpoint", json_float(setpoint)}});
                       });
               });
    router.add("GET", path(kChannel, "/maxflow").c_str(), Kind::read,
               [api, &c](const Request&, Response& res, const std::smatch& m) {
                   int a = 0, ch = 0;
                   if (!api.channel(m, res, a, ch)) return;
                   api.one(
                       res, [&](Line& line) { return cmd::read_maxflow(line, a, ch); },
                       [&](const cmd::Reading& r) {
                           send_json(res, {{"maxflow", json_float(r.value)}, {"status", r.status}});
                       });
               });
    router.add("PUT", path(kChannel, "/maxflow").c_str(), Kind::write,
               [api, &c](const Request& req, Response& res, const std::smatch& m) {
                   int a = 0, ch = 0;
                   if (!api.channel(m, res, a, ch)) return;
                   RequestBody body(req.body);
                   const float maxflow = body.number("maxflow");
                   const int code = body.integer_or("code", 0, 4, 0);
                   if (!Api::body_ok(body, res)) return;
                   api.one(
                       res,
                       [&](Line& line) { return cmd::set_maxflow(line, a, ch, maxflow, code); },
                       [&](Done) {
                           send_json(res, {{"maxflow", json_float(maxflow)}, {"code", code}});
                       });
               });
    router.add("GET", path(kChannel, "/unit").c_str(), Kind::read,
               [api, &c](const Request&, Response& res, const std::smatch& m) {
                   int a = 0, ch = 0;
                   if (!api.channel(m, res, a, ch)) return;
                   api.one(
                       res, [&](Line& line) { return cmd::read_unit(line, a, ch); },
                       [&](int unit) {
                           send_json(res, {{"unit", unit}});
                       });
               });
    router.add("PUT", path(kChannel, "/unit").c_str(), Kind::write,
               [api, &c](const Request& req, Response& res, const std::smatch& m) {
                   int a = 0, ch = 0;
                   if (!api.channel(m, res, a, ch)) return;
                   RequestBody body(req.body);
                   const int unit = body.integer("unit", 1, 4);
                   if (!Api::body_ok(body, res)) return;
                   api.one(
                       res, [&](Line& line) { return cmd::set_unit(line, a, ch, unit); },
                       [&](Done) {
                           send_json(res, {{"unit", unit}});
                       });
               });
    router.add("GET", path(kChannel, "/intflow").c_str(), Kind::read,
               [api, &c](const Request&, Response& res, const std::smatch& m) {
                   int a = 0, ch = 0;
                   if (!api.channel(m, res, a, ch)) return;
                   api.one(
                       res, [&](Line& line) { return cmd::read_intflow(line, a, ch); },
                       [&](const cmd::FourBytes& b) { send_json(res, four_bytes_json(b)); });
               });
}

void add_instrument_routes(Router& router, Api api) {
    Context& c = api.c_;
    router.add("GET", "/api/v1/instruments", Kind::read,
               [api, &c](const Request&, Response& res, const std::smatch&) {
                   json list = json::array();
                   for (int a : c.instruments.addresses()) {
                       const auto version = c.instruments.version(a);
                       list.push_back(version ? version_json(a, *version)
                                              : json{{"address", a}, {"version", nullptr}});
                   }
                   send_json(res, list);
               });
    router.add(
        "GET", path(kAddress, "/status").c_str(), Kind::read,
        [api, &c](const Request&, Response& res, const std::smatch& m) {
            int a = 0;
            if (!api.address(m, res, a)) return;
            json rows = json::array();
            const auto result = c.worker.run([&](Line& line) -> JobResult {
                for (int ch = 1; ch <= 8; ++ch) {
                    const auto flow = timed(c.metrics, [&] { return cmd::read_flow(line, a, ch); });
                    if (!flow.ok()) return flow.error();
                    const auto setpoint =
                        timed(c.metrics, [&] { return cmd::read_setpoint(line, a, ch); });
                    if (!setpoint.ok()) return setpoint.error();
                    const auto maxflow =
                        timed(c.metrics, [&] { return cmd::read_maxflow(line, a, ch); });
                    if (!maxflow.ok()) return maxflow.error();
                    const auto unit = timed(c.metrics, [&] { return cmd::read_unit(line, a, ch); });
                    if (!unit.ok()) return unit.error();
                    c.cache.setpoint(a, ch, setpoint.value().value);
                    rows.push_back({{"channel", ch},
                                    {"flow", flow_json(flow.value())},
                                    {"setpoint", json_float(setpoint.value().value)},
                                    {"maxflow", json_float(maxflow.value().value)},
                                    {"unit", unit.value()},
                                    {"status", flow.value().status}});
                }
                return std::nullopt;
            });
            if (api.finished(res, result)) send_json(res, rows);
        });
    router.add("GET", path(kAddress, "/inttime").c_str(), Kind::read,
               [api, &c](const Request&, Response& res, const std::smatch& m) {
                   int a = 0;
                   if (!api.address(m, res, a)) return;
                   api.one(
                       res, [&](Line& line) { return cmd::read_inttime(line, a); },
                       [&](const cmd::FourBytes& b) { send_json(res, four_bytes_json(b)); });
               });
    router.add("POST", path(kAddress, "/integration").c_str(), Kind::write,
               [api, &c](const Request& req, Response& res, const std::smatch& m) {
                   int a = 0;
                   if (!api.address(m, res, a)) return;
                   RequestBody body(req.body);
                   // Above 127 the control byte would look like a request header on the line.
                   const int control = body.word_or_integer("control", kIntegrationWords, 0, 127);
                   if (!Api::body_ok(body, res)) return;
                   api.one(
                       res, [&](Line& line) { return cmd::int_control(line, a, control); },
                       [&](Done) {
                           send_json(res, {{"control", control}});
                       });
               });
    router.add("GET", path(kAddress, "/ratio-total").c_str(), Kind::read,
               [api, &c](const Request&, Response& res, const std::smatch& m) {
                   int a = 0;
                   if (!api.address(m, res, a)) return;
                   api.one(
                       res, [&](Line& line) { return cmd::read_ratio_total(line, a); },
                       [&](const cmd::RatioTotal& r) { send_json(res, ratio_total_json(r)); });
               });
    router.add("PUT", path(kAddress, "/ratio-total").c_str(), Kind::write,
               [api, &c](const Request& req, Response& res, const std::smatch& m) {
                   int a = 0;
                   if (!api.address(m, res, a)) return;
                   RequestBody body(req.body);
                   const cmd::RatioTotal r{
                       body.integer("channel", 1, 8), body.integer("value", 0, 255),
                       body.integer("channel2", 1, 8), body.integer("channel3", 1, 8)};
                   if (!Api::body_ok(body, res)) return;
                   api.one(
                       res, [&](Line& line) { return cmd::set_ratio_total(line, a, r); },
                       [&](Done) { send_json(res, ratio_total_json(r)); });
               });
    router.add("PUT", path(kAddress, "/ratio-mode").c_str(), Kind::write,
               [api, &c](const Request& req, Response& res, const std::smatch& m) {
                   int a = 0;
                   if (!api.address(m, res, a)) return;
                   RequestBody body(req.body);
                   const int mode = body.integer("mode", 0, 2);
                   if (!Api::body_ok(body, res)) return;
                   api.one(
                       res, [&](Line& line) { return cmd::control_ratio_total(line, a, mode); },
                       [&](Done) {
                           send_json(res, {{"mode", mode}});
                       });
               });
    router.add("GET", path(kAddress, "/onoff").c_str(), Kind::read,
               [api, &c](const Request&, Response& res, const std::smatch& m) {
                   int a = 0;
                   if (!api.address(m, res, a)) return;
                   api.one(
                       res, [&](Line& line) { return cmd::read_on_off(line, a); },
                       [&](int state) {
                           c.cache.on_off(a, state);
                           send_json(res, {{"state", state}});
                       });
               });
    router.add("PUT", path(kAddress, "/onoff").c_str(), Kind::write,
               [api, &c](const Request& req, Response& res, const std::smatch& m) {
                   int a = 0;
                   if (!api.address(m, res, a)) return;
                   RequestBody body(req.body);
                   const int state = body.integer("state", 0, 255);
                   if (!Api::body_ok(body, res)) return;
                   api.one(
                       res, [&](Line& line) { return cmd::set_on_off(line, a, state); },
                       [&](Done) {
                           c.cache.on_off(a, state);
                           send_json(res, {{"state", state}});
                       });
               });
    router.add("GET", path(kAddress, "/version").c_str(), Kind::read,
               [api, &c](const Request&, Response& res, const std::smatch& m) {
                   int a = 0;
                   if (!api.address(m, res, a)) return;
                   api.one(
                       res, [&](Line& line) { return cmd::read_version(line, a); },
                       [&](const cmd::Version& v) {
                           c.instruments.set_version(a, v);
                           send_json(res, version_json(a, v));
                       });
               });
    router.add("PUT", path(kAddress, "/display").c_str(), Kind::write,
               [api, &c](const Request& req, Response& res, const std::smatch& m) {
                   int a = 0;
                   if (!api.address(m, res, a)) return;
                   RequestBody body(req.body);
                   const bool flag1 = body.flag("flag1");
                   const bool flag2 = body.flag("flag2");
                   if (!Api::body_ok(body, res)) return;
                   api.one(
                       res, [&](Line& line) { return cmd::set_display(line, a, flag1, flag2); },
                       [&](Done) {
                           send_json(res, {{"flag1", flag1}, {"flag2", flag2}});
                       });
               });
    router.add("PUT", path(kAddress, "/keylock").c_str(), Kind::write,
               [api, &c](const Request& req, Response& res, const std::smatch& m) {
                   int a = 0;
                   if (!api.address(m, res, a)) return;
                   RequestBody body(req.body);
                   const bool locked = body.flag("locked");
                   if (!Api::body_ok(body, res)) return;
                   api.one(
                       res, [&](Line& line) { return cmd::set_key_lock(line, a, locked); },
                       [&](Done) {
                           send_json(res, {{"locked", locked}});
                       });
               });
}

// Server-Sent Events from the cache: no exchange of its own, whoever listens.
void add_stream_routes(Router& router, Context& c) {
    router.add(
        "GET", "/api/v1/events", Kind::read,
        [&c](const Request&, Response& res, const std::smatch&) {
            res.set_header("Cache-Control", "no-cache");
            const LineState line = c.worker.state();
            auto last = std::make_shared<std::uint64_t>(c.cache.last_sequence());
            auto first = std::make_shared<std::string>(
                "retry: 1000\n\nevent: line\ndata: " +
                json{{"up", line.up}, {"reason", line.reason}}.dump() + "\n\n");
            res.set_chunked_content_provider(
                "text/event-stream", [&c, last, first](std::size_t, httplib::DataSink& sink) {
                    if (!first->empty()) {
                        const std::string text = std::exchange(*first, {});
                        return sink.write(text.data(), text.size());
                    }
                    if (c.stopping) return false;
                    const auto events = c.cache.events_after(
                        *last,
                        std::chrono::duration_cast<std::chrono::milliseconds>(kKeepAliveEvery));
                    if (c.stopping) return false;
                    std::string text;
                    for (const Event& event : events) {
                        text += "event: " + event.name + "\ndata: " + event.data + "\n\n";
                        *last = event.sequence;
                    }
                    if (text.empty()) text = ": keep-alive\n\n";
                    return sink.write(text.data(), text.size());
                });
        });
    router.add(
        "GET", "/metrics", Kind::read, [&](const Request&, Response& res, const std::smatch&) {
            res.set_content(c.metrics.text(c.cache), "text/plain; version=0.0.4; charset=utf-8");
        });
    router.add("GET", "/healthz", Kind::open,
               [&](const Request&, Response& res, const std::smatch&) {
                   send_json(res, {{"line_up", c.worker.state().up}});
               });
}

}  // namespace

json version_json(int address, const commands::Version& version) {
    const std::string text(version.text.begin(), version.text.end());
    return {{"address", address},
            {"version", json(text.c_str())},
            {"kind", version.kind == 0 ? "M" : "C"},
            {"info1", version.info1},
            {"info2", version.info2}};
}

void add_api_routes(Router& router, Context& context) {
    add_channel_routes(router, Api(context));
    add_instrument_routes(router, Api(context));
    add_stream_routes(router, context);
}

}  // namespace qk42rt::server
