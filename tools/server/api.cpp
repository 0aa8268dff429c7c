#include "api.h"

#include <memory>
#include <string>

#include "http_reply.h"
#include "result_json.h"
#include "run_route.h"

namespace qk42rt::server {
namespace {

using httplib::Request;
using httplib::Response;
using json = nlohmann::ordered_json;

constexpr std::string_view kApiRoot = "/api/v1";
constexpr auto kKeepAliveEvery = std::chrono::seconds(15);

// Every route of the table, below the API's root.
void add_table_routes(Router& router, Context& context) {
    for (const Route& route : route_table()) {
        const std::string pattern = std::string(kApiRoot) + path_pattern(route);
        router.add(
            route.method, pattern.c_str(), route.kind,
            [&route, &context](const Request& request, Response& response, const std::smatch&) {
                // The router matched the pattern: the path below the root matches too.
                const std::string_view below =
                    std::string_view(request.path).substr(kApiRoot.size());
                const auto params = match_path(route, below);
                send(response, run_route(route, {params.value(), request.body}, context));
            });
    }
}

// What the server knows of its instruments: no exchange.
void add_instruments_list(Router& router, Context& c) {
    router.add("GET", "/api/v1/instruments", Kind::read,
               [&c](const Request&, Response& res, const std::smatch&) {
                   json list = json::array();
                   for (int a : c.instruments.addresses()) {
                       const auto version = c.instruments.version(a);
                       list.push_back(version ? version_json(a, *version)
                                              : json{{"address", a}, {"version", nullptr}});
                   }
                   send_json(res, list);
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

void add_api_routes(Router& router, Context& context) {
    add_table_routes(router, context);
    add_instruments_list(router, context);
    add_stream_routes(router, context);
}

}  // namespace qk42rt::server
