#include "run_route.h"

#include <charconv>

#include "request_body.h"
#include "utc_time.h"

namespace qk42rt::server {
namespace {

namespace cmd = qk42rt::commands;

std::optional<int> number_of(const std::string& text) {
    int number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return number;
}

// The address when it is served and the channel when it exists; a 404 otherwise.
std::optional<Answer> read_params(const Route& route, const RouteParams& params,
                                  const Context& context, Call& call) {
    const auto address = number_of(params.address);
    if (!address || !context.instruments.serves(*address)) {
        return error_answer(404, "address " + params.address + " is not served here", "not_found");
    }
    call.address = *address;
    if (route.path.find("{channel}") == std::string::npos) return std::nullopt;
    const auto channel = number_of(params.channel);
    if (!channel || !cmd::limits::channel.contains(*channel)) {
        return error_answer(404,
                            "channel " + params.channel + " does not exist (" +
                                std::to_string(cmd::limits::channel.low) + " to " +
                                std::to_string(cmd::limits::channel.high) + ")",
                            "not_found");
    }
    call.channel = *channel;
    return std::nullopt;
}

// Every field the route declares, in its order; the first refusal ends the reading.
std::optional<Answer> read_body(const Route& route, const std::string& text, Call& call) {
    if (route.body.empty()) return std::nullopt;
    RequestBody body(text);
    for (const Field& field : route.body) {
        FieldValue value;
        switch (field.type) {
            case FieldType::whole:
                value = field.fallback ? body.integer_or(field.name, field.limit, *field.fallback)
                                       : body.integer(field.name, field.limit);
                break;
            case FieldType::finite_float:
                value = body.number(field.name);
                break;
            case FieldType::flag:
                value = body.flag(field.name);
                break;
            case FieldType::word_or_whole:
                value = body.word_or_integer(field.name, field.limit);
                break;
        }
        call.fields.emplace_back(field.name, value);
    }
    if (!body.ok()) return error_answer(400, body.error(), "bad_argument");
    return std::nullopt;
}

void tell(Effect effect, const Call& call, const Result& result, Context& context) {
    switch (effect) {
        case Effect::none:
            break;
        case Effect::flow_read: {
            const auto& reading = std::get<cmd::Reading>(result);
            context.cache.reading(
                call.address, call.channel,
                {reading.flagged_invalid ? std::nullopt : std::optional<float>(reading.value),
                 reading.status, utc_now()});
            break;
        }
        case Effect::setpoint_read:
            context.cache.setpoint(call.address, call.channel,
                                   std::get<cmd::Reading>(result).value);
            break;
        case Effect::setpoint_written:
            context.cache.setpoint(call.address, call.channel, call.number("setpoint"));
            break;
        case Effect::setpoints_read: {
            int channel = cmd::limits::channel.low;
            for (const auto& s : std::get<std::vector<cmd::ChannelStatus>>(result)) {
                context.cache.setpoint(call.address, channel++, s.setpoint);
            }
            break;
        }
        case Effect::on_off_read:
            context.cache.on_off(call.address, std::get<int>(result));
            break;
        case Effect::on_off_written:
            context.cache.on_off(call.address, call.whole("state"));
            break;
        case Effect::version_read:
            context.instruments.set_version(call.address, std::get<cmd::Version>(result));
            break;
    }
}

}  // namespace

Answer run_route(const Route& route, const RouteRequest& request, Context& context) {
    Call call;
    if (auto refused = read_params(route, request.params, context, call)) return *refused;
    if (auto refused = read_body(route, request.body, call)) return *refused;
    std::optional<Result> result;
    const auto finished = context.worker.run([&](protocol::Line& line) -> JobResult {
        auto outcome =
            timed_exchanges(context.metrics, line, [&] { return route.operation(line, call); });
        if (!outcome.ok()) return outcome.error();
        result = outcome.value();
        return std::nullopt;
    });
    if (!finished) return line_down_answer(context.worker.state().reason);
    if (*finished) return failure_answer(**finished);
    tell(route.effect, call, *result, context);
    return {200, route.answer(call, *result)};
}

}  // namespace qk42rt::server
