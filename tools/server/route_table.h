// The server's routes as one table: each route says what it takes (method, path, body fields
// and their limits), which operation of the core it runs on the line, how its answer is made
// and what its result tells the cache. Every front (HTTP today) serves this same table through
// run_route(), so that a request answers the same whichever way it came.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "access.h"
#include "commands/commands.h"
#include "commands/limits.h"
#include "commands/words.h"

namespace qk42rt::server {

enum class FieldType {
    whole,          // a whole number within the field's limit
    finite_float,   // a finite number that a float holds
    flag,           // true or false
    word_or_whole,  // an integration control word (start, stop, reset) or a whole number
};

// One field of a request body.
struct Field {
    const char* name;
    FieldType type;
    commands::Limit limit{0, 0};    // for whole and word_or_whole
    std::optional<int> fallback{};  // a whole number that may be left out
};

using FieldValue = std::variant<int, float, bool>;

// A request as its route runs it: the path's address and channel, and the body's fields as
// checked (a word already replaced by its code).
struct Call {
    int address = 0;
    int channel = 0;  // 0 on an instrument's routes
    std::vector<std::pair<std::string_view, FieldValue>> fields;

    int whole(std::string_view name) const { return std::get<int>(field(name)); }
    float number(std::string_view name) const { return std::get<float>(field(name)); }
    bool flag(std::string_view name) const { return std::get<bool>(field(name)); }
    const FieldValue& field(std::string_view name) const;
};

// Whatever an operation gives back.
using Result = std::variant<Done, commands::Reading, int, commands::FourBytes, commands::RatioTotal,
                            commands::Version, std::vector<commands::ChannelStatus>>;

// What a route's result tells the server beyond its answer.
enum class Effect {
    none,
    flow_read,         // the reading goes to the cache, and to the event stream
    setpoint_read,     // the channel's setpoint in the cache (an event when it changed)
    setpoint_written,  // the setpoint written is the cached one
    setpoints_read,    // a status: every channel's setpoint in the cache
    on_off_read,       // the instrument's on/off state in the cache (an event when it changed)
    on_off_written,    // the state written is the cached one
    version_read,      // what the instruments list shows
};

struct Route {
    const char* method;
    // Below the API's root, with its parameters: "/instruments/{address}/channels/{channel}/flow".
    std::string path;
    Kind kind;
    std::vector<Field> body;  // empty: the body is not read
    // One job on the line: its exchanges, and the result they give.
    Outcome<Result> (*operation)(protocol::Line& line, const Call& call);
    nlohmann::ordered_json (*answer)(const Call& call, const Result& result);
    Effect effect = Effect::none;
};

std::span<const Route> route_table();

// The address and channel as the path wrote them ("3", "03"); channel empty when the path has
// none.
struct RouteParams {
    std::string address;
    std::string channel;
};

// The parameters when `path` is one of the route's paths.
std::optional<RouteParams> match_path(const Route& route, std::string_view path);

// The route of `method` on `path`, with its parameters; without one, `allow` lists the methods
// the path takes ("GET, PUT"), empty when no route has that path.
struct RouteLookup {
    const Route* route = nullptr;
    RouteParams params;
    std::string allow;
};
RouteLookup find_route(std::string_view method, std::string_view path);

// The route's path as a regular expression, for routers that match with one.
std::string path_pattern(const Route& route);

}  // namespace qk42rt::server
