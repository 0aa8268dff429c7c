#include "request_call.h"

#include <algorithm>

#include "commands/commands.h"
#include "commands/words.h"
#include "protocol/frame.h"
#include "protocol/request.h"
#include "protocol/text.h"

namespace qk42rt::wire {
namespace {

namespace op = protocol::op;
using protocol::CommandInfo;
using protocol::hex_byte;
using protocol::hex_bytes;
using protocol::Line;
using Reply = std::span<const std::uint8_t>;

nlohmann::json float_json(float value) {
    const auto number = protocol::float_number(value);
    return number ? nlohmann::json(*number) : nlohmann::json(nullptr);
}

std::string float_text(float value) {
    return protocol::float_text(value);
}

// The bytes the library read of a reply: never more than the command's reply length.
Reply taken(const CommandInfo& info, Reply reply) {
    return reply.first(std::min(reply.size(), info.reply_length));
}

Verdict failed(const Error& error) {
    return {error, "failed: " + describe(error), nullptr};
}

template <class T, class Describe>
Verdict verdict_of(const Outcome<T>& outcome, Describe describe_value) {
    if (!outcome.ok()) return failed(outcome.error());
    return describe_value(outcome.value());
}

Verdict done(const Outcome<Done>& outcome, const CommandInfo& info, Reply reply) {
    return verdict_of(outcome, [&](const Done&) {
        if (info.check == protocol::Check::acknowledged) {
            return Verdict{std::nullopt, "acknowledged", nlohmann::json::object()};
        }
        // The library counts these replies and never looks at them.
        const std::string bytes = hex_bytes(taken(info, reply));
        return Verdict{std::nullopt, "answered (not checked: " + bytes + ")",
                       nlohmann::json{{"answer", bytes}}};
    });
}

Verdict reading(const Outcome<commands::Reading>& outcome, const char* name, Reply reply) {
    return verdict_of(outcome, [&](const commands::Reading& r) {
        Verdict verdict{
            std::nullopt,
            "status " + std::to_string(r.status) + ", " + name + " " + float_text(r.value),
            {{"status", r.status}, {name, float_json(r.value)}}};
        // The flow reading alone turns into -1 when the instrument flags it; say what the
        // bytes held, since the host never sees it.
        if (r.flagged_invalid && reply.size() >= 5) {
            const float said =
                protocol::reply_float(std::span<const std::uint8_t, 4>(reply.data() + 1, 4));
            verdict.text += " (flagged invalid; bytes say " + float_text(said) + ")";
            verdict.result["flagged_invalid"] = true;
            verdict.result["bytes_say"] = float_json(said);
        }
        return verdict;
    });
}

Verdict four_bytes(const Outcome<commands::FourBytes>& outcome) {
    return verdict_of(outcome, [](const commands::FourBytes& b) {
        const std::uint32_t count = commands::count_of(b);
        const std::string bytes = hex_bytes(b);
        return Verdict{std::nullopt,
                       "bytes " + bytes + ", count " + std::to_string(count),
                       {{"bytes", bytes}, {"count", count}}};
    });
}

Verdict version(const Outcome<commands::Version>& outcome) {
    return verdict_of(outcome, [](const commands::Version& v) {
        const std::string kind = commands::kind_text(v.kind);
        std::string shown = "version " + (v.number ? float_text(*v.number) : std::string("?"));
        if (!v.number)
            shown += " (no number in the text " +
                     hex_bytes(Reply(reinterpret_cast<const std::uint8_t*>(v.text.data()), 3)) +
                     ")";
        shown +=
            ", kind " + kind + ", info " + std::to_string(v.info1) + " " + std::to_string(v.info2);
        return Verdict{std::nullopt,
                       shown,
                       {{"version", v.number ? float_json(*v.number) : nlohmann::json(nullptr)},
                        {"kind", kind},
                        {"info1", v.info1},
                        {"info2", v.info2}}};
    });
}

Verdict ratio_total(const Outcome<commands::RatioTotal>& outcome) {
    return verdict_of(outcome, [](const commands::RatioTotal& c) {
        return Verdict{std::nullopt,
                       "channel " + std::to_string(c.channel) + ", value " +
                           std::to_string(c.value) + ", channel2 " + std::to_string(c.channel2) +
                           ", channel3 " + std::to_string(c.channel3),
                       {{"channel", c.channel},
                        {"value", c.value},
                        {"channel2", c.channel2},
                        {"channel3", c.channel3}}};
    });
}

Argument channel_argument(int channel) {
    return {"channel", channel, "channel " + std::to_string(channel)};
}

Argument bare(std::string name, nlohmann::json value, std::string shown) {
    return {std::move(name), std::move(value), std::move(shown)};
}

Argument named(std::string name, nlohmann::json value, const std::string& shown) {
    return {name, std::move(value), name + " " + shown};
}

Argument on_off(std::string name, bool on, bool with_name) {
    return with_name ? named(std::move(name), on, on ? "on" : "off")
                     : bare(std::move(name), on, on ? "on" : "off");
}

// The arguments of each operation as the decoded line shows them.
struct Arguments {
    using List = std::vector<Argument>;
    List operator()(const op::ReadVersion&) const { return {}; }
    List operator()(const op::SetDisplay& o) const {
        return {on_off("flag1", o.flag1, true), on_off("flag2", o.flag2, true)};
    }
    List operator()(const op::SetKeyLock& o) const { return {on_off("locked", o.locked, false)}; }
    List operator()(const op::SetUnit& o) const {
        return {channel_argument(o.channel), bare("unit", o.unit, std::to_string(o.unit))};
    }
    List operator()(const op::ReadUnit& o) const { return {channel_argument(o.channel)}; }
    List operator()(const op::ReadFlow& o) const { return {channel_argument(o.channel)}; }
    List operator()(const op::ReadSetpoint& o) const { return {channel_argument(o.channel)}; }
    List operator()(const op::ReadMaxflow& o) const { return {channel_argument(o.channel)}; }
    List operator()(const op::ReadIntflow& o) const { return {channel_argument(o.channel)}; }
    List operator()(const op::ReadInttime&) const { return {}; }
    List operator()(const op::IntControl& o) const {
        return {bare("control", o.control, hex_byte(protocol::low_byte(o.control)))};
    }
    List operator()(const op::ReadRatioTotal&) const { return {}; }
    List operator()(const op::SetRatioTotal& o) const {
        const commands::RatioTotal& c = o.config;
        return {channel_argument(c.channel), named("value", c.value, std::to_string(c.value)),
                named("channel2", c.channel2, std::to_string(c.channel2)),
                named("channel3", c.channel3, std::to_string(c.channel3))};
    }
    List operator()(const op::ReadOnOff&) const { return {}; }
    List operator()(const op::SetOnOff& o) const {
        return {bare("state", o.state, hex_byte(protocol::low_byte(o.state)))};
    }
    List operator()(const op::ControlRatioTotal& o) const {
        return {bare("mode", o.mode, std::to_string(o.mode))};
    }
    List operator()(const op::SetSetpoint& o) const {
        return {channel_argument(o.channel),
                bare("setpoint", float_json(o.setpoint), float_text(o.setpoint))};
    }
    List operator()(const op::SetMaxflow& o) const {
        return {channel_argument(o.channel),
                bare("maxflow", float_json(o.maxflow), float_text(o.maxflow)),
                named("code", o.code, std::to_string(o.code))};
    }
};

// Runs each operation through the library's own function and says what came of it.
struct Running {
    Line& line;
    int address;
    const CommandInfo& info;
    Reply reply;

    Verdict operator()(const op::ReadVersion&) const {
        return version(commands::read_version(line, address));
    }
    Verdict operator()(const op::SetDisplay& o) const {
        return done(commands::set_display(line, address, o.flag1, o.flag2), info, reply);
    }
    Verdict operator()(const op::SetKeyLock& o) const {
        return done(commands::set_key_lock(line, address, o.locked), info, reply);
    }
    Verdict operator()(const op::SetUnit& o) const {
        return done(commands::set_unit(line, address, o.channel, o.unit), info, reply);
    }
    Verdict operator()(const op::ReadUnit& o) const {
        return verdict_of(commands::read_unit(line, address, o.channel), [](int unit) {
            return Verdict{std::nullopt, "unit " + std::to_string(unit), {{"unit", unit}}};
        });
    }
    Verdict operator()(const op::ReadFlow& o) const {
        return reading(commands::read_flow(line, address, o.channel), "flow", reply);
    }
    Verdict operator()(const op::ReadSetpoint& o) const {
        return reading(commands::read_setpoint(line, address, o.channel), "setpoint", reply);
    }
    Verdict operator()(const op::ReadMaxflow& o) const {
        return reading(commands::read_maxflow(line, address, o.channel), "maxflow", reply);
    }
    Verdict operator()(const op::ReadIntflow& o) const {
        return four_bytes(commands::read_intflow(line, address, o.channel));
    }
    Verdict operator()(const op::ReadInttime&) const {
        return four_bytes(commands::read_inttime(line, address));
    }
    Verdict operator()(const op::IntControl& o) const {
        return done(commands::int_control(line, address, o.control), info, reply);
    }
    Verdict operator()(const op::ReadRatioTotal&) const {
        return ratio_total(commands::read_ratio_total(line, address));
    }
    Verdict operator()(const op::SetRatioTotal& o) const {
        return done(commands::set_ratio_total(line, address, o.config), info, reply);
    }
    Verdict operator()(const op::ReadOnOff&) const {
        return verdict_of(commands::read_on_off(line, address), [](int state) {
            return Verdict{std::nullopt,
                           "state " + hex_byte(static_cast<std::uint8_t>(state)) + " (" +
                               std::to_string(state) + ")",
                           {{"state", state}}};
        });
    }
    Verdict operator()(const op::SetOnOff& o) const {
        return done(commands::set_on_off(line, address, o.state), info, reply);
    }
    Verdict operator()(const op::ControlRatioTotal& o) const {
        return done(commands::control_ratio_total(line, address, o.mode), info, reply);
    }
    Verdict operator()(const op::SetSetpoint& o) const {
        return done(commands::set_setpoint(line, address, o.channel, o.setpoint), info, reply);
    }
    Verdict operator()(const op::SetMaxflow& o) const {
        return done(commands::set_maxflow(line, address, o.channel, o.maxflow, o.code), info,
                    reply);
    }
};

Call call_of(const protocol::TypedRequest& request) {
    Call call;
    call.info = protocol::command_of(request.operation);
    call.operation = protocol::operation_name(call.info.name);
    call.address = request.address;
    call.arguments = std::visit(Arguments{}, request.operation);
    call.run = [request, info = call.info](Line& line, Reply reply) {
        return std::visit(Running{line, request.address, info, reply}, request.operation);
    };
    return call;
}

}  // namespace

ParsedRequest parse_request(std::span<const std::uint8_t> bytes) {
    protocol::ParsedRequest read = protocol::parse_request(bytes);
    ParsedRequest parsed;
    parsed.command = std::move(read.command);
    parsed.problems = std::move(read.problems);
    parsed.notes = std::move(read.notes);
    if (read.request && parsed.problems.empty()) parsed.call = call_of(*read.request);
    return parsed;
}

}  // namespace qk42rt::wire
