// Routes requests by method and path, and decides access before any handler runs: 404 for a
// path no route knows, 405 (with Allow) for a method a path does not take, 401 without the
// token where one is needed, 403 for a write on a read-only server.
#pragma once

#include <httplib.h>

#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "access.h"

namespace qk42rt::server {

struct AccessPolicy {
    std::optional<std::string> token;  // writes need it
    bool reads_need_token = false;     // beyond loopback, reads need it too
    bool read_only = false;            // no write reaches the instrument
};

class Router {
  public:
    using Handler =
        std::function<void(const httplib::Request&, httplib::Response&, const std::smatch&)>;

    explicit Router(AccessPolicy policy) : policy_(std::move(policy)) {}

    void add(const char* method, const char* pattern, Kind kind, Handler handler);

    // Installs the router as the server's only handler, for every method.
    void install(httplib::Server& server);

    void dispatch(const httplib::Request& request, httplib::Response& response) const;

  private:
    struct Route {
        std::string method;
        std::regex pattern;
        Kind kind;
        Handler handler;
    };
    bool allowed(const Route& route, const httplib::Request& request,
                 httplib::Response& response) const;

    AccessPolicy policy_;
    std::vector<Route> routes_;
};

}  // namespace qk42rt::server
