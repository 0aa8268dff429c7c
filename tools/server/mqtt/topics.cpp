#include "topics.h"

#include <charconv>
#include <vector>

namespace qk42rt::server::mqtt {
namespace {

// The levels of `topic` below `base/`; empty when it is not below it.
std::vector<std::string_view> levels_below(std::string_view base, std::string_view topic) {
    std::vector<std::string_view> levels;
    if (topic.size() <= base.size() + 1 || !topic.starts_with(base) || topic[base.size()] != '/') {
        return levels;
    }
    topic.remove_prefix(base.size() + 1);
    while (true) {
        const std::size_t end = topic.find('/');
        levels.push_back(topic.substr(0, end));
        if (end == std::string_view::npos) break;
        topic.remove_prefix(end + 1);
    }
    return levels;
}

std::string join(std::string_view base, std::initializer_list<std::string> levels) {
    std::string topic(base);
    for (const std::string& level : levels) topic += '/' + level;
    return topic;
}

}  // namespace

std::optional<Command> command_of(std::string_view base, std::string_view topic) {
    const auto l = levels_below(base, topic);
    if (l.size() == 5 && l[3] == "setpoint" && l[4] == "set") {
        return Command{Command::What::setpoint, std::string(l[0]), std::string(l[1]),
                       std::string(l[2])};
    }
    if (l.size() == 4 && l[2] == "onoff" && l[3] == "set") {
        return Command{Command::What::on_off, std::string(l[0]), std::string(l[1]), {}};
    }
    return std::nullopt;
}

std::optional<std::string> request_line_of(std::string_view base, std::string_view topic) {
    const auto l = levels_below(base, topic);
    if (l.size() == 2 && l[1] == "request" && !l[0].empty()) return std::string(l[0]);
    return std::nullopt;
}

std::optional<std::string> command_body(Command::What what, const std::string& payload) {
    const char* key = what == Command::What::setpoint ? "setpoint" : "state";
    const json value = json::parse(payload, nullptr, false);
    if (value.is_discarded()) return std::nullopt;
    if (value.is_object()) {
        if (value.size() != 1 || !value.contains(key)) return std::nullopt;
        return value.dump();
    }
    if (!value.is_number()) return std::nullopt;
    // The number as it came: the route judges its range and whether it is whole.
    return "{\"" + std::string(key) + "\":" + value.dump() + "}";
}

std::optional<Publication> publication_of(std::string_view base, const std::string& event_name,
                                          const std::string& event_data) {
    const json data = json::parse(event_data, nullptr, false);
    if (!data.is_object() || !data.contains("line")) return std::nullopt;
    const std::string line = data["line"];
    if (event_name == "line") {
        return Publication{join(base, {line, "status"}),
                           line_status_payload(data.value("up", false), data.value("reason", ""))};
    }
    const std::string address = std::to_string(data.value("address", 0));
    if (event_name == "onoff") {
        return Publication{join(base, {line, address, "onoff"}),
                           json{{"state", data["state"]}}.dump()};
    }
    const std::string channel = std::to_string(data.value("channel", 0));
    if (event_name == "setpoint") {
        return Publication{join(base, {line, address, channel, "setpoint"}),
                           json{{"setpoint", data["setpoint"]}}.dump()};
    }
    if (event_name == "reading") {
        return Publication{
            join(base, {line, address, channel, "flow"}),
            json{{"time", data["time"]}, {"flow", data["flow"]}, {"status", data["status"]}}
                .dump()};
    }
    return std::nullopt;
}

std::string line_status_payload(bool up, const std::string& reason) {
    return up ? json{{"up", true}}.dump() : json{{"up", false}, {"reason", reason}}.dump();
}

}  // namespace qk42rt::server::mqtt
