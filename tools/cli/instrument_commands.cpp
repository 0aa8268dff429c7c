// Subcommands for the instrument as a whole: integration control, ratio/total, on/off,
// version, display and key lock.
#include <bitset>

#include "commands/commands.h"
#include "commands/words.h"
#include "subcommands.h"

namespace qk42rt::cli {
namespace {

// Integration control by its word, or any code 0..127 as a number.
int integration_code(std::string_view text) {
    if (const auto control = commands::integration_control(text)) return *control;
    return parse_int(text, commands::limits::control,
                     "integration code (or " + commands::integration_words() + ")");
}

}  // namespace

Prepared prepare_integration(const CommandLine& line) {
    const int code = integration_code(line.words[0]);
    return {[code](Session& s) {
                s.need(commands::int_control(s.line(), s.address(), code),
                       "integration control " + std::to_string(code));
                report_done(s, "integration control " + std::to_string(code) + " acknowledged",
                            {{"code", code}});
                return 0;
            },
            {}};
}

Prepared prepare_ratio_total(const CommandLine& line) {
    if (line.words.empty()) {
        return {[](Session& s) {
                    const auto& config = s.need(commands::read_ratio_total(s.line(), s.address()),
                                                "read ratio/total");
                    print_record(s.out(),
                                 {{"channel", config.channel},
                                  {"value", config.value},
                                  {"channel2", config.channel2},
                                  {"channel3", config.channel3}},
                                 s.json());
                    return 0;
                },
                {}};
    }
    if (line.words.size() != 4) throw UsageError("ratio-total takes no words, or CH VALUE CH2 CH3");
    commands::RatioTotal config;
    config.channel = parse_channel(line.words[0]);
    config.value = parse_int(line.words[1], commands::limits::ratio_value, "value");
    config.channel2 = parse_int(line.words[2], commands::limits::channel, "channel2");
    config.channel3 = parse_int(line.words[3], commands::limits::channel, "channel3");
    return {[config](Session& s) {
                s.need(commands::set_ratio_total(s.line(), s.address(), config), "set ratio/total");
                report_done(s, "ratio/total set",
                            {{"channel", config.channel},
                             {"value", config.value},
                             {"channel2", config.channel2},
                             {"channel3", config.channel3}});
                return 0;
            },
            {}};
}

Prepared prepare_ratio_mode(const CommandLine& line) {
    const int mode = parse_int(line.words[0], commands::limits::ratio_mode, "mode");
    return {[mode](Session& s) {
                s.need(commands::control_ratio_total(s.line(), s.address(), mode),
                       "set ratio/total mode");
                report_done(s, "ratio/total mode set to " + std::to_string(mode), {{"mode", mode}});
                return 0;
            },
            {}};
}

Prepared prepare_onoff(const CommandLine& line) {
    if (line.words.empty()) {
        return {[](Session& s) {
                    const int state =
                        s.need(commands::read_on_off(s.line(), s.address()), "read on/off");
                    // Bit (channel - 1) for each channel, channel 8 leftmost.
                    const std::string bits =
                        std::bitset<8>(static_cast<unsigned>(state)).to_string();
                    print_record(s.out(), {{"state", state}, {"bits", bits}}, s.json());
                    return 0;
                },
                {}};
    }
    const int state = parse_int(line.words[0], commands::limits::state, "on/off state");
    return {[state](Session& s) {
                s.need(commands::set_on_off(s.line(), s.address(), state), "set on/off");
                report_done(s, "on/off state set to " + std::to_string(state), {{"state", state}});
                return 0;
            },
            {}};
}

Prepared prepare_version(const CommandLine&) {
    return {[](Session& s) {
                const auto& version =
                    s.need(commands::read_version(s.line(), s.address()), "read version");
                nlohmann::ordered_json number = nullptr;
                if (version.number) number = float_value(*version.number);
                print_record(s.out(),
                             {{"version", number},
                              {"kind", commands::kind_text(version.kind)},
                              {"info1", version.info1},
                              {"info2", version.info2}},
                             s.json());
                return 0;
            },
            {}};
}

Prepared prepare_display(const CommandLine& line) {
    const bool flag1 = parse_flag(line.words[0], "display flag 1");
    const bool flag2 = parse_flag(line.words[1], "display flag 2");
    return {[flag1, flag2](Session& s) {
                s.need(commands::set_display(s.line(), s.address(), flag1, flag2), "set display");
                report_done(s,
                            std::string("display flags set to ") + (flag1 ? "on" : "off") + ", " +
                                (flag2 ? "on" : "off"),
                            {{"flag1", flag1}, {"flag2", flag2}});
                return 0;
            },
            {}};
}

Prepared prepare_keylock(const CommandLine& line) {
    const bool locked = parse_flag(line.words[0], "key lock");
    return {[locked](Session& s) {
                s.need(commands::set_key_lock(s.line(), s.address(), locked), "set key lock");
                report_done(s, std::string("key lock ") + (locked ? "on" : "off"),
                            {{"locked", locked}});
                return 0;
            },
            {}};
}

}  // namespace qk42rt::cli
