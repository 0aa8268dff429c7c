// Subcommands that read or write one channel: flow, setpoint, maxflow, unit, intflow.
#include <cstdint>

#include "commands/commands.h"
#include "commands/words.h"
#include "subcommands.h"

namespace qk42rt::cli {
namespace {

std::string of_channel(std::string_view what, int channel) {
    return std::string(what) + " of channel " + std::to_string(channel);
}

void print_reading(Session& session, int channel, const char* name,
                   const commands::Reading& reading) {
    print_record(
        session.out(),
        {{"channel", channel}, {name, float_value(reading.value)}, {"status", reading.status}},
        session.json());
}

}  // namespace

int parse_channel(std::string_view text) {
    return parse_int(text, commands::limits::channel, "channel");
}

void report_done(Session& session, const std::string& text, const Record& record) {
    if (session.json()) {
        Record done{{"ok", true}};
        done.update(record);
        print_record(session.out(), done, true);
    } else {
        session.out() << text << '\n';
    }
}

Prepared prepare_flow(const CommandLine& line) {
    const int channel = parse_channel(line.words[0]);
    return {[channel](Session& s) {
                const auto& reading = s.need(commands::read_flow(s.line(), s.address(), channel),
                                             of_channel("read flow", channel));
                print_reading(s, channel, "flow", reading);
                return 0;
            },
            {}};
}

Prepared prepare_setpoint(const CommandLine& line) {
    const int channel = parse_channel(line.words[0]);
    if (line.words.size() == 1) {
        return {[channel](Session& s) {
                    const auto& reading =
                        s.need(commands::read_setpoint(s.line(), s.address(), channel),
                               of_channel("read setpoint", channel));
                    print_reading(s, channel, "setpoint", reading);
                    return 0;
                },
                {}};
    }
    const float value = parse_float(line.words[1], "setpoint");
    return {[channel, value](Session& s) {
                s.need(commands::set_setpoint(s.line(), s.address(), channel, value),
                       of_channel("set setpoint", channel));
                report_done(s,
                            "channel " + std::to_string(channel) + ": setpoint set to " +
                                format_float(value),
                            {{"channel", channel}, {"setpoint", float_value(value)}});
                return 0;
            },
            {}};
}

Prepared prepare_maxflow(const CommandLine& line) {
    const int channel = parse_channel(line.words[0]);
    if (line.words.size() == 1) {
        return {[channel](Session& s) {
                    const auto& reading =
                        s.need(commands::read_maxflow(s.line(), s.address(), channel),
                               of_channel("read maximum flow", channel));
                    print_reading(s, channel, "maxflow", reading);
                    return 0;
                },
                {}};
    }
    const float value = parse_float(line.words[1], "maximum flow");
    const int code = line.words.size() > 2
                         ? parse_int(line.words[2], commands::limits::maxflow_code, "code")
                         : 0;
    return {[channel, value, code](Session& s) {
                s.need(commands::set_maxflow(s.line(), s.address(), channel, value, code),
                       of_channel("set maximum flow", channel));
                report_done(
                    s,
                    "channel " + std::to_string(channel) + ": maximum flow set to " +
                        format_float(value) + " (code " + std::to_string(code) + ")",
                    {{"channel", channel}, {"maxflow", float_value(value)}, {"code", code}});
                return 0;
            },
            {}};
}

Prepared prepare_unit(const CommandLine& line) {
    const int channel = parse_channel(line.words[0]);
    if (line.words.size() == 1) {
        return {[channel](Session& s) {
                    const int unit = s.need(commands::read_unit(s.line(), s.address(), channel),
                                            of_channel("read unit", channel));
                    print_record(s.out(), {{"channel", channel}, {"unit", unit}}, s.json());
                    return 0;
                },
                {}};
    }
    const int unit = parse_int(line.words[1], commands::limits::unit, "unit");
    return {[channel, unit](Session& s) {
                s.need(commands::set_unit(s.line(), s.address(), channel, unit),
                       of_channel("set unit", channel));
                report_done(
                    s,
                    "channel " + std::to_string(channel) + ": unit set to " + std::to_string(unit),
                    {{"channel", channel}, {"unit", unit}});
                return 0;
            },
            {}};
}

// The raw bytes stay beside the count for instruments that count otherwise.
Record four_bytes_record(const commands::FourBytes& bytes) {
    return {{"bytes", hex_bytes(bytes)}, {"count", commands::count_of(bytes)}};
}

Prepared prepare_intflow(const CommandLine& line) {
    const int channel = parse_channel(line.words[0]);
    return {[channel](Session& s) {
                const auto& bytes = s.need(commands::read_intflow(s.line(), s.address(), channel),
                                           of_channel("read integrated flow", channel));
                Record record{{"channel", channel}};
                record.update(four_bytes_record(bytes));
                print_record(s.out(), record, s.json());
                return 0;
            },
            {}};
}

Prepared prepare_inttime(const CommandLine&) {
    return {[](Session& s) {
                const auto& bytes =
                    s.need(commands::read_inttime(s.line(), s.address()), "read integration time");
                print_record(s.out(), four_bytes_record(bytes), s.json());
                return 0;
            },
            {}};
}

}  // namespace qk42rt::cli
