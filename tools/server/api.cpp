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
constexpr std::string_view kLinesRoot = "/api/v1/lines/";
// A line's name as a path segment, captured: letters, digits, - and _.
constexpr const char* kLineName = "([A-Za-z0-9_-]+)";
constexpr auto kKeepAliveEvery = std::chrono::seconds(15);

// A route answers for the first line at `path` and for every line at /api/v1/lines/NAME`path`.
// Handlers get the line the request names, and the path below the line's root.
using LineHandler =
    std::function<void(ServedLine&, std::string_view below, const Request&, Response&)>;

void add_line_route(Router& router, const ApiScope& scope, const char* method,
                    const std::string& pattern, Kind kind, LineHandler handler) {
    auto shared = std::make_shared<LineHandler>(std::move(handler));
    const ServedLines& lines = scope.lines;
    router.add(method, (std::string(kApiRoot) + pattern).c_str(), kind,
               [shared, &lines](const Request& request, Response& response, const std::smatch&) {
                   const std::string_view below =
                       std::string_view(request.path).substr(kApiRoot.size());
                   (*shared)(*lines.front(), below, request, response);
               });
    router.add(
        method, (std::string(kLinesRoot) + kLineName + pattern).c_str(), kind,
        [shared, &lines](const Request& request, Response& response, const std::smatch& match) {
            const std::string name = match[1];
            ServedLine* line = find_line(lines, name);
            if (!line) {
                send_error(response, 404, "no line is named " + name + " here", "not_found");
                return;
            }
            const std::string_view below =
                std::string_view(request.path).substr(kLinesRoot.size() + name.size());
            (*shared)(*line, below, request, response);
        });
}

// Every route of the table.
void add_table_routes(Router& router, const ApiScope& scope) {
    for (const Route& route : route_table()) {
        add_line_route(
            router, scope, route.method, path_pattern(route), route.kind,
            [&route](ServedLine& line, std::string_view below, const Request& request,
                     Response& response) {
                // The router matched the pattern: the path below matches too.
                const auto params = match_path(route, below);
                send(response, run_route(route, {params.value(), request.body}, line.context()));
            });
    }
}

json instruments_json(const ServedLine& line) {
    json list = json::array();
    for (int a : line.instruments().addresses()) {
        const auto version = line.instruments().version(a);
        list.push_back(version ? version_json(a, *version)
                               : json{{"address", a}, {"version", nullptr}});
    }
    return list;
}

json line_summary(const ServedLine& line) {
    json addresses = json::array();
    for (int a : line.instruments().addresses()) addresses.push_back(a);
    return {{"name", line.name()},
            {"device", line.options().device},
            {"up", line.state().up},
            {"instruments", addresses}};
}

// What the server knows of its lines and instruments: no exchange.
void add_known_routes(Router& router, const ApiScope& scope) {
    add_line_route(router, scope, "GET", "/instruments", Kind::read,
                   [](ServedLine& line, std::string_view, const Request&, Response& response) {
                       send_json(response, instruments_json(line));
                   });
    const bool read_only = scope.read_only;
    add_line_route(
        router, scope, "GET", "/line", Kind::read,
        [read_only](ServedLine& line, std::string_view, const Request&, Response& response) {
            const LineState state = line.state();
            send_json(response, {{"device", line.options().device},
                                 {"up", state.up},
                                 {"reason", state.reason},
                                 {"read_only", read_only}});
        });
    const ServedLines& lines = scope.lines;
    router.add("GET", "/api/v1/lines", Kind::read,
               [&lines](const Request&, Response& response, const std::smatch&) {
                   json list = json::array();
                   for (const auto& line : lines) list.push_back(line_summary(*line));
                   send_json(response, list);
               });
    router.add("GET", (std::string(kLinesRoot) + kLineName).c_str(), Kind::read,
               [&lines](const Request&, Response& response, const std::smatch& match) {
                   const ServedLine* line = find_line(lines, match[1].str());
                   if (!line) {
                       send_error(response, 404, "no line is named " + match[1].str() + " here",
                                  "not_found");
                       return;
                   }
                   send_json(response, line_summary(*line));
               });
}

// Server-Sent Events from the lines' caches: no exchange of its own, whoever listens. `only`
// names the one line whose events are sent; empty: every line's.
void stream_events(const ApiScope& scope, const std::string& only, Response& res) {
    res.set_header("Cache-Control", "no-cache");
    const EventHub& hub = scope.lines.front()->cache().hub();
    auto last = std::make_shared<std::uint64_t>(hub.last_sequence());
    auto first = std::make_shared<std::string>("retry: 1000\n\n");
    for (const auto& line : scope.lines) {
        if (!only.empty() && line->name() != only) continue;
        const LineState state = line->state();
        const json data{{"line", line->name()}, {"up", state.up}, {"reason", state.reason}};
        *first += "event: line\ndata: " + data.dump() + "\n\n";
    }
    const std::atomic<bool>& stopping = scope.stopping;
    res.set_chunked_content_provider(
        "text/event-stream",
        [&hub, &stopping, only, last, first](std::size_t, httplib::DataSink& sink) {
            if (!first->empty()) {
                const std::string text = std::exchange(*first, {});
                return sink.write(text.data(), text.size());
            }
            if (stopping) return false;
            const auto events = hub.events_after(
                *last, std::chrono::duration_cast<std::chrono::milliseconds>(kKeepAliveEvery));
            if (stopping) return false;
            std::string text;
            for (const Event& event : events) {
                if (only.empty() || event.line == only) {
                    text += "event: " + event.name + "\ndata: " + event.data + "\n\n";
                }
                *last = event.sequence;
            }
            if (text.empty()) text = ": keep-alive\n\n";
            return sink.write(text.data(), text.size());
        });
}

void add_stream_routes(Router& router, const ApiScope& scope) {
    router.add("GET", "/api/v1/events", Kind::read,
               [&scope](const Request&, Response& res, const std::smatch&) {
                   stream_events(scope, {}, res);
               });
    router.add("GET", (std::string(kLinesRoot) + kLineName + "/events").c_str(), Kind::read,
               [&scope](const Request&, Response& res, const std::smatch& match) {
                   if (!find_line(scope.lines, match[1].str())) {
                       send_error(res, 404, "no line is named " + match[1].str() + " here",
                                  "not_found");
                       return;
                   }
                   stream_events(scope, match[1].str(), res);
               });
    const ServedLines& lines = scope.lines;
    router.add("GET", "/metrics", Kind::read,
               [&lines](const Request&, Response& res, const std::smatch&) {
                   std::vector<LineMetrics> all;
                   for (const auto& line : lines) all.push_back({line->metrics(), line->cache()});
                   res.set_content(metrics_text(all), "text/plain; version=0.0.4; charset=utf-8");
               });
    router.add("GET", "/healthz", Kind::open,
               [&lines](const Request&, Response& res, const std::smatch&) {
                   send_json(res, {{"line_up", lines.front()->state().up}});
               });
}

}  // namespace

void add_api_routes(Router& router, const ApiScope& scope) {
    add_table_routes(router, scope);
    add_known_routes(router, scope);
    add_stream_routes(router, scope);
}

}  // namespace qk42rt::server
