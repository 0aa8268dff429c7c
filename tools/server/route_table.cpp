#include "route_table.h"

#include <stdexcept>
#include <type_traits>
#include <variant>

#include "answer.h"
#include "result_json.h"

namespace qk42rt::server {
namespace {

namespace cmd = qk42rt::commands;
namespace limits = qk42rt::commands::limits;
using json = nlohmann::ordered_json;
using protocol::Line;

// An operation's outcome with its value held as a Result.
template <class T>
Outcome<Result> held(const Outcome<T>& outcome) {
    if (!outcome.ok()) return outcome.error();
    return Result(outcome.value());
}

// A write answers with what it wrote: its body's fields, in their order.
json echo(const Call& call, const Result&) {
    json answer = json::object();
    for (const auto& [name, value] : call.fields) {
        const std::string key(name);
        std::visit(
            [&](auto v) {
                if constexpr (std::is_same_v<decltype(v), float>) {
                    answer[key] = float_json(v);
                } else {
                    answer[key] = v;
                }
            },
            value);
    }
    return answer;
}

json reading_json(const char* key, const Result& result) {
    const auto& reading = std::get<cmd::Reading>(result);
    return {{key, float_json(reading.value)}, {"status", reading.status}};
}

json status_json(const Call&, const Result& result) {
    json rows = json::array();
    int channel = limits::channel.low;
    for (const cmd::ChannelStatus& s : std::get<std::vector<cmd::ChannelStatus>>(result)) {
        rows.push_back({{"channel", channel++},
                        {"flow", flow_json(s.flow)},
                        {"setpoint", float_json(s.setpoint)},
                        {"maxflow", float_json(s.maxflow)},
                        {"unit", s.unit},
                        {"status", s.flow.status}});
    }
    return rows;
}

Outcome<Result> read_status(Line& line, const Call& call) {
    std::vector<cmd::ChannelStatus> rows;
    for (int channel = limits::channel.low; channel <= limits::channel.high; ++channel) {
        const auto status = cmd::read_channel_status(line, call.address, channel);
        if (!status.ok()) return status.error();
        rows.push_back(status.value());
    }
    return Result(std::move(rows));
}

// A path's methods in the order the routes come: an Allow header lists GET before PUT.
std::vector<Route> make_table() {
    using enum FieldType;
    const std::string kInstrument = "/instruments/{address}";
    const std::string kChannel = kInstrument + "/channels/{channel}";
    return {
        {"GET",
         kChannel + "/flow",
         Kind::read,
         {},
         [](Line& line, const Call& c) { return held(cmd::read_flow(line, c.address, c.channel)); },
         [](const Call& c, const Result& r) -> json {
             const auto& reading = std::get<cmd::Reading>(r);
             return {
                 {"channel", c.channel}, {"flow", flow_json(reading)}, {"status", reading.status}};
         },
         Effect::flow_read},
        {"GET",
         kChannel + "/setpoint",
         Kind::read,
         {},
         [](Line& line, const Call& c) {
             return held(cmd::read_setpoint(line, c.address, c.channel));
         },
         [](const Call&, const Result& r) { return reading_json("setpoint", r); },
         Effect::setpoint_read},
        {"PUT",
         kChannel + "/setpoint",
         Kind::write,
         {{"setpoint", finite_float}},
         [](Line& line, const Call& c) {
             return held(cmd::set_setpoint(line, c.address, c.channel, c.number("setpoint")));
         },
         echo,
         Effect::setpoint_written},
        {"GET",
         kChannel + "/maxflow",
         Kind::read,
         {},
         [](Line& line, const Call& c) {
             return held(cmd::read_maxflow(line, c.address, c.channel));
         },
         [](const Call&, const Result& r) { return reading_json("maxflow", r); }},
        {"PUT",
         kChannel + "/maxflow",
         Kind::write,
         {{"maxflow", finite_float}, {"code", whole, limits::maxflow_code, 0}},
         [](Line& line, const Call& c) {
             return held(cmd::set_maxflow(line, c.address, c.channel, c.number("maxflow"),
                                          c.whole("code")));
         },
         echo},
        {"GET",
         kChannel + "/unit",
         Kind::read,
         {},
         [](Line& line, const Call& c) { return held(cmd::read_unit(line, c.address, c.channel)); },
         [](const Call&, const Result& r) -> json {
             return {{"unit", std::get<int>(r)}};
         }},
        {"PUT",
         kChannel + "/unit",
         Kind::write,
         {{"unit", whole, limits::unit}},
         [](Line& line, const Call& c) {
             return held(cmd::set_unit(line, c.address, c.channel, c.whole("unit")));
         },
         echo},
        {"GET",
         kChannel + "/intflow",
         Kind::read,
         {},
         [](Line& line, const Call& c) {
             return held(cmd::read_intflow(line, c.address, c.channel));
         },
         [](const Call&, const Result& r) { return four_bytes_json(std::get<cmd::FourBytes>(r)); }},
        {"GET",
         kInstrument + "/status",
         Kind::read,
         {},
         read_status,
         status_json,
         Effect::setpoints_read},
        {"GET",
         kInstrument + "/inttime",
         Kind::read,
         {},
         [](Line& line, const Call& c) { return held(cmd::read_inttime(line, c.address)); },
         [](const Call&, const Result& r) { return four_bytes_json(std::get<cmd::FourBytes>(r)); }},
        {"POST",
         kInstrument + "/integration",
         Kind::write,
         {{"control", word_or_whole, limits::control}},
         [](Line& line, const Call& c) {
             return held(cmd::int_control(line, c.address, c.whole("control")));
         },
         echo},
        {"GET",
         kInstrument + "/ratio-total",
         Kind::read,
         {},
         [](Line& line, const Call& c) { return held(cmd::read_ratio_total(line, c.address)); },
         [](const Call&, const Result& r) {
             return ratio_total_json(std::get<cmd::RatioTotal>(r));
         }},
        {"PUT",
         kInstrument + "/ratio-total",
         Kind::write,
         {{"channel", whole, limits::channel},
          {"value", whole, limits::ratio_value},
          {"channel2", whole, limits::channel},
          {"channel3", whole, limits::channel}},
         [](Line& line, const Call& c) {
             return held(cmd::set_ratio_total(
                 line, c.address,
                 {c.whole("channel"), c.whole("value"), c.whole("channel2"), c.whole("channel3")}));
         },
         echo},
        {"PUT",
         kInstrument + "/ratio-mode",
         Kind::write,
         {{"mode", whole, limits::ratio_mode}},
         [](Line& line, const Call& c) {
             return held(cmd::control_ratio_total(line, c.address, c.whole("mode")));
         },
         echo},
        {"GET",
         kInstrument + "/onoff",
         Kind::read,
         {},
         [](Line& line, const Call& c) { return held(cmd::read_on_off(line, c.address)); },
         [](const Call&, const Result& r) -> json {
             return {{"state", std::get<int>(r)}};
         },
         Effect::on_off_read},
        {"PUT",
         kInstrument + "/onoff",
         Kind::write,
         {{"state", whole, limits::state}},
         [](Line& line, const Call& c) {
             return held(cmd::set_on_off(line, c.address, c.whole("state")));
         },
         echo,
         Effect::on_off_written},
        {"GET",
         kInstrument + "/version",
         Kind::read,
         {},
         [](Line& line, const Call& c) { return held(cmd::read_version(line, c.address)); },
         [](const Call& c, const Result& r) {
             return version_json(c.address, std::get<cmd::Version>(r));
         },
         Effect::version_read},
        {"PUT",
         kInstrument + "/display",
         Kind::write,
         {{"flag1", flag}, {"flag2", flag}},
         [](Line& line, const Call& c) {
             return held(cmd::set_display(line, c.address, c.flag("flag1"), c.flag("flag2")));
         },
         echo},
        {"PUT",
         kInstrument + "/keylock",
         Kind::write,
         {{"locked", flag}},
         [](Line& line, const Call& c) {
             return held(cmd::set_key_lock(line, c.address, c.flag("locked")));
         },
         echo},
    };
}

}  // namespace

const FieldValue& Call::field(std::string_view name) const {
    for (const auto& [known, value] : fields) {
        if (known == name) return value;
    }
    throw std::logic_error("a route reads the field \"" + std::string(name) +
                           "\" that it does not declare");
}

std::span<const Route> route_table() {
    static const std::vector<Route> table = make_table();
    return table;
}

}  // namespace qk42rt::server
