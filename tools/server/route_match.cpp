// Paths of the route table: a parameter ({address}, {channel}) stands for one path segment of
// 1 to 9 digits, so that a number past an int is no route at all rather than a wrapped one.
#include <regex>

#include "route_table.h"

namespace qk42rt::server {
namespace {

constexpr std::size_t kMostDigits = 9;

bool parameter(std::string_view segment) {
    return segment.size() > 2 && segment.front() == '{' && segment.back() == '}';
}

bool digits(std::string_view text) {
    if (text.empty() || text.size() > kMostDigits) return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// The next segment of `path` after its leading '/', which it removes; empty at the end.
std::optional<std::string_view> next_segment(std::string_view& path) {
    if (path.empty() || path.front() != '/') return std::nullopt;
    path.remove_prefix(1);
    const std::size_t end = std::min(path.find('/'), path.size());
    const std::string_view segment = path.substr(0, end);
    path.remove_prefix(end);
    return segment;
}

}  // namespace

std::optional<RouteParams> match_path(const Route& route, std::string_view path) {
    std::string_view pattern = route.path;
    RouteParams params;
    while (!pattern.empty()) {
        const auto want = next_segment(pattern);
        const auto have = next_segment(path);
        if (!want || !have) return std::nullopt;
        if (!parameter(*want)) {
            if (*want != *have) return std::nullopt;
        } else if (!digits(*have)) {
            return std::nullopt;
        } else if (*want == "{channel}") {
            params.channel = *have;
        } else {
            params.address = *have;
        }
    }
    if (!path.empty()) return std::nullopt;
    return params;
}

RouteLookup find_route(std::string_view method, std::string_view path) {
    RouteLookup lookup;
    for (const Route& route : route_table()) {
        const auto params = match_path(route, path);
        if (!params) continue;
        if (route.method != method) {
            lookup.allow += (lookup.allow.empty() ? "" : ", ") + std::string(route.method);
            continue;
        }
        lookup.route = &route;
        lookup.params = *params;
        lookup.allow.clear();
        return lookup;
    }
    return lookup;
}

std::string path_pattern(const Route& route) {
    static const std::regex kParameter("\\{[a-z]+\\}");
    return std::regex_replace(route.path, kParameter,
                              "([0-9]{1," + std::to_string(kMostDigits) + "})");
}

}  // namespace qk42rt::server
