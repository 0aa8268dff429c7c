#include "router.h"

#include "access.h"
#include "http_reply.h"

namespace qk42rt::server {

void Router::add(const char* method, const char* pattern, Kind kind, Handler handler) {
    routes_.push_back(Route{method, std::regex(pattern), kind, std::move(handler)});
}

void Router::install(httplib::Server& server) {
    const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
        dispatch(request, response);
    };
    server.Get(".*", handler);
    server.Put(".*", handler);
    server.Post(".*", handler);
    server.Delete(".*", handler);
    server.Patch(".*", handler);
    server.Options(".*", handler);
}

void Router::dispatch(const httplib::Request& request, httplib::Response& response) const {
    // HEAD is answered as GET without the body.
    const std::string method = request.method == "HEAD" ? "GET" : request.method;
    std::string allow;
    for (const Route& route : routes_) {
        std::smatch match;
        if (!std::regex_match(request.path, match, route.pattern)) continue;
        if (route.method != method) {
            allow += (allow.empty() ? "" : ", ") + route.method;
            continue;
        }
        if (allowed(route, request, response)) route.handler(request, response, match);
        return;
    }
    if (!allow.empty()) response.set_header("Allow", allow);
    send(response, no_route_answer(request.method, request.path, allow));
}

bool Router::allowed(const Route& route, const httplib::Request& request,
                     httplib::Response& response) const {
    if (route.kind == Kind::open) return true;
    if (route.kind == Kind::write && policy_.read_only) {
        send_error(response, 403, "this server is read-only: no write reaches the instrument",
                   "forbidden");
        return false;
    }
    const bool needs_token =
        policy_.token && (route.kind == Kind::write || policy_.reads_need_token);
    if (needs_token && !bearer_matches(request.get_header_value("Authorization"), *policy_.token)) {
        response.set_header("WWW-Authenticate", "Bearer");
        send_error(response, 401, "a valid token is needed: Authorization: Bearer <token>",
                   "unauthorized");
        return false;
    }
    return true;
}

}  // namespace qk42rt::server
