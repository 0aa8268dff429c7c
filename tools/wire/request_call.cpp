#include "request_call.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "commands/commands.h"
#include "protocol/frame.h"

namespace qk42rt::wire {
namespace {

using protocol::Code;
using protocol::CommandInfo;
using protocol::Line;
using Reply = std::span<const std::uint8_t>;

std::string hex_byte(std::uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(byte));
    return text;
}

std::string hex_run(Reply bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X", static_cast<unsigned>(byte));
        if (!text.empty()) text += ' ';
        text += two;
    }
    return text;
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
        const std::string bytes = hex_run(taken(info, reply));
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
        if (std::string_view(name) == "flow" && reply.size() >= 5 && (reply[0] & 0x08u)) {
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
        const std::uint32_t count = std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 |
                                    std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
        const std::string bytes = hex_run(b);
        return Verdict{std::nullopt,
                       "bytes " + bytes + ", count " + std::to_string(count),
                       {{"bytes", bytes}, {"count", count}}};
    });
}

Verdict version(const Outcome<commands::Version>& outcome) {
    return verdict_of(outcome, [](const commands::Version& v) {
        const std::string text(v.text.data(), v.text.size());
        const std::string kind = v.kind == 0 ? "M" : "C";
        std::string shown = "version " + (v.number ? float_text(*v.number) : std::string("?"));
        if (!v.number)
            shown += " (no number in the text " +
                     hex_run(Reply(reinterpret_cast<const std::uint8_t*>(v.text.data()), 3)) + ")";
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

Argument channel_argument(int channel) {
    return {"channel", channel, "channel " + std::to_string(channel)};
}

Argument bare(std::string name, nlohmann::json value, std::string shown) {
    return {std::move(name), std::move(value), std::move(shown)};
}

Argument named(std::string name, nlohmann::json value, const std::string& shown) {
    return {name, std::move(value), name + " " + shown};
}

// A byte the library makes from a signed remainder: -4..-1 travel as 0xFC..0xFF.
int signed_byte(std::uint8_t byte) {
    return byte >= 0x80 ? byte - 0x100 : byte;
}

class Reader {
  public:
    explicit Reader(Reply bytes, ParsedRequest& parsed) : bytes_(bytes), parsed_(parsed) {}

    std::uint8_t at(std::size_t i) const { return bytes_[i]; }

    // The channel byte: channel - 1 in its low three bits and nothing else.
    int channel(std::size_t i) {
        if (bytes_[i] > 0x07)
            problem("channel byte " + hex_byte(bytes_[i]) + " is outside 0x00 to 0x07");
        return (bytes_[i] & 0x07) + 1;
    }

    // The high then low half of an 8-bit value.
    int nibbles(std::size_t i, const char* what) {
        for (std::size_t j = i; j < i + 2; ++j) {
            if (bytes_[j] > 0x0F) {
                problem(std::string(what) + " byte " + hex_byte(bytes_[j]) +
                        " is outside 0x00 to 0x0F");
            }
        }
        return (bytes_[i] & 0x0F) << 4 | (bytes_[i + 1] & 0x0F);
    }

    float packed(std::size_t i) {
        if (bytes_[i] > 0x0F) {
            problem("the float's high-bit byte " + hex_byte(bytes_[i]) +
                    " is outside 0x00 to 0x0F");
        }
        return protocol::unpacked_float(std::span<const std::uint8_t, 5>(bytes_.data() + i, 5));
    }

    void problem(std::string text) { parsed_.problems.push_back(std::move(text)); }
    void note(std::string text) { parsed_.notes.push_back(std::move(text)); }

  private:
    Reply bytes_;
    ParsedRequest& parsed_;
};

std::string bit7_note(const char* what, std::uint8_t byte) {
    return std::string(what) + " " + hex_byte(byte) +
           " has bit 7 set: the library sends it as given, but an instrument may take it for "
           "the start of a new request";
}

// The call for a request that has passed the length and header checks.
void build_call(const CommandInfo& info, Reply b, Reader& r, ParsedRequest& parsed) {
    Call call;
    call.info = info;
    call.operation = operation_name(info.name);
    call.address = protocol::address_of(b[0]);
    const int address = call.address;
    auto& args = call.arguments;
    const auto reading_call = [&](auto operation, const char* name) {
        const int channel = r.channel(1);
        args.push_back(channel_argument(channel));
        call.run = [=](Line& line, Reply reply) {
            return reading(operation(line, address, channel), name, reply);
        };
    };
    switch (protocol::code_of(b[0])) {
        case Code::system: {
            const std::uint8_t sub = b[1];
            if (sub == protocol::kSubReadVersion) {
                call.run = [=](Line& line, Reply) {
                    return version(commands::read_version(line, address));
                };
            } else if ((sub & 0xFCu) == protocol::kSubDisplay) {
                const int flag1 = (sub & 0x02) ? 1 : 0;
                const int flag2 = (sub & 0x01) ? 1 : 0;
                args.push_back(named("flag1", flag1 != 0, flag1 ? "on" : "off"));
                args.push_back(named("flag2", flag2 != 0, flag2 ? "on" : "off"));
                call.run = [=](Line& line, Reply reply) {
                    return done(commands::set_display(line, address, flag1, flag2), info, reply);
                };
            } else {
                const int locked = (sub & protocol::kKeyLockedBit) ? 1 : 0;
                args.push_back(bare("locked", locked != 0, locked ? "on" : "off"));
                call.run = [=](Line& line, Reply reply) {
                    return done(commands::set_key_lock(line, address, locked), info, reply);
                };
            }
            break;
        }
        case Code::set_unit: {
            const int channel = r.channel(1);
            if (b[2] > 0x03) r.problem("unit byte " + hex_byte(b[2]) + " is outside 0x00 to 0x03");
            const int unit = (b[2] & 0x03) + 1;
            args.push_back(channel_argument(channel));
            args.push_back(bare("unit", unit, std::to_string(unit)));
            call.run = [=](Line& line, Reply reply) {
                return done(commands::set_unit(line, address, channel, unit), info, reply);
            };
            break;
        }
        case Code::read_unit: {
            const int channel = r.channel(1);
            args.push_back(channel_argument(channel));
            call.run = [=](Line& line, Reply) {
                return verdict_of(commands::read_unit(line, address, channel), [](int unit) {
                    return Verdict{std::nullopt, "unit " + std::to_string(unit), {{"unit", unit}}};
                });
            };
            break;
        }
        case Code::read_flow:
            reading_call(commands::read_flow, "flow");
            break;
        case Code::read_setpoint:
            reading_call(commands::read_setpoint, "setpoint");
            break;
        case Code::read_maxflow:
            reading_call(commands::read_maxflow, "maxflow");
            break;
        case Code::read_intflow: {
            const int channel = r.channel(1);
            args.push_back(channel_argument(channel));
            call.run = [=](Line& line, Reply) {
                return four_bytes(commands::read_intflow(line, address, channel));
            };
            break;
        }
        case Code::read_inttime:
            call.run = [=](Line& line, Reply) {
                return four_bytes(commands::read_inttime(line, address));
            };
            break;
        case Code::int_control: {
            const int control = b[1];
            if (control & 0x80) r.note(bit7_note("control byte", b[1]));
            args.push_back(bare("control", control, hex_byte(b[1])));
            call.run = [=](Line& line, Reply reply) {
                return done(commands::int_control(line, address, control), info, reply);
            };
            break;
        }
        case Code::read_ratio_total:
            call.run = [=](Line& line, Reply) {
                return verdict_of(
                    commands::read_ratio_total(line, address), [](const commands::RatioTotal& c) {
                        return Verdict{std::nullopt,
                                       "channel " + std::to_string(c.channel) + ", value " +
                                           std::to_string(c.value) + ", channel2 " +
                                           std::to_string(c.channel2) + ", channel3 " +
                                           std::to_string(c.channel3),
                                       {{"channel", c.channel},
                                        {"value", c.value},
                                        {"channel2", c.channel2},
                                        {"channel3", c.channel3}}};
                    });
            };
            break;
        case Code::set_ratio_total: {
            commands::RatioTotal config;
            config.channel = r.channel(1);
            config.value = r.nibbles(2, "value");
            if (b[4] & 0x88u) {
                r.problem("channels byte " + hex_byte(b[4]) +
                          " has bit 3 or 7 set (two channels of 3 bits each)");
            }
            config.channel2 = ((b[4] >> 4) & 0x07) + 1;
            config.channel3 = (b[4] & 0x07) + 1;
            args.push_back(channel_argument(config.channel));
            args.push_back(named("value", config.value, std::to_string(config.value)));
            args.push_back(named("channel2", config.channel2, std::to_string(config.channel2)));
            args.push_back(named("channel3", config.channel3, std::to_string(config.channel3)));
            call.run = [=](Line& line, Reply reply) {
                return done(commands::set_ratio_total(line, address, config), info, reply);
            };
            break;
        }
        case Code::read_on_off:
            call.run = [=](Line& line, Reply) {
                return verdict_of(commands::read_on_off(line, address), [](int state) {
                    return Verdict{std::nullopt,
                                   "state " + hex_byte(static_cast<std::uint8_t>(state)) + " (" +
                                       std::to_string(state) + ")",
                                   {{"state", state}}};
                });
            };
            break;
        case Code::set_on_off: {
            const int state = r.nibbles(1, "state");
            args.push_back(bare("state", state, hex_byte(static_cast<std::uint8_t>(state))));
            call.run = [=](Line& line, Reply reply) {
                return done(commands::set_on_off(line, address, state), info, reply);
            };
            break;
        }
        case Code::control_ratio_total: {
            const std::uint8_t byte = b[1];
            if (byte > 0x02 && byte < 0xFE) {
                r.problem("mode byte " + hex_byte(byte) + " is no remainder of a division by 3");
            }
            const int mode = signed_byte(byte);
            if (byte & 0x80) r.note(bit7_note("mode byte", byte));
            args.push_back(bare("mode", mode, std::to_string(mode)));
            call.run = [=](Line& line, Reply reply) {
                return done(commands::control_ratio_total(line, address, mode), info, reply);
            };
            break;
        }
        case Code::set_setpoint: {
            const int channel = r.channel(1);
            const float value = r.packed(2);
            args.push_back(channel_argument(channel));
            args.push_back(bare("setpoint", float_json(value), float_text(value)));
            call.run = [=](Line& line, Reply reply) {
                return done(commands::set_setpoint(line, address, channel, value), info, reply);
            };
            break;
        }
        case Code::set_maxflow: {
            const int channel = r.channel(1);
            const float value = r.packed(2);
            const std::uint8_t byte = b[7];
            if (byte > 0x04 && byte < 0xFC) {
                r.problem("code byte " + hex_byte(byte) + " is no remainder of a division by 5");
            }
            const int code = signed_byte(byte);
            if (byte & 0x80) r.note(bit7_note("code byte", byte));
            args.push_back(channel_argument(channel));
            args.push_back(bare("maxflow", float_json(value), float_text(value)));
            args.push_back(named("code", code, std::to_string(code)));
            call.run = [=](Line& line, Reply reply) {
                return done(commands::set_maxflow(line, address, channel, value, code), info,
                            reply);
            };
            break;
        }
    }
    if (parsed.problems.empty()) parsed.call = std::move(call);
}

}  // namespace

std::string operation_name(std::string_view function) {
    constexpr std::string_view kPrefix = "QK42RT_";
    if (function.substr(0, kPrefix.size()) == kPrefix) function.remove_prefix(kPrefix.size());
    std::string name;
    for (const char c : function) {
        if (std::isupper(static_cast<unsigned char>(c))) {
            if (!name.empty()) name += ' ';
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else {
            name += c;
        }
    }
    return name;
}

std::string float_text(float value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

nlohmann::json float_json(float value) {
    if (!std::isfinite(value)) return nullptr;
    // Through the shortest text, so that 0.1f is 0.1 in the JSON and not 0.10000000149011612.
    double shown = 0.0;
    const std::string text = float_text(value);
    std::from_chars(text.data(), text.data() + text.size(), shown);
    return shown;
}

ParsedRequest parse_request(std::span<const std::uint8_t> bytes) {
    ParsedRequest parsed;
    if (bytes.empty()) {
        parsed.problems.push_back("no request bytes");
        return parsed;
    }
    const std::uint8_t header = bytes[0];
    if (!(header & 0x80u)) {
        parsed.problems.push_back("first byte " + hex_byte(header) +
                                  " is no header: bit 7, which starts every request, is clear");
        return parsed;
    }
    const Code code = protocol::code_of(header);
    const std::size_t length = protocol::request_length(code);
    const std::uint8_t subcode = bytes.size() > 1 ? bytes[1] : 0;
    const auto info = protocol::command_info(code, subcode);
    parsed.command = info ? operation_name(info->name) : "system command";
    if (bytes.size() < length) {
        parsed.problems.push_back(parsed.command +
                                  " request cut short: " + std::to_string(bytes.size()) + " of " +
                                  std::to_string(length) + " bytes");
        return parsed;
    }
    if (bytes.size() > length) {
        parsed.problems.push_back(parsed.command +
                                  " request too long: " + std::to_string(bytes.size()) +
                                  " bytes instead of " + std::to_string(length));
        return parsed;
    }
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        if ((bytes[i] & 0x80u) && !protocol::may_carry_bit7(code, i)) {
            parsed.problems.push_back("data byte " + std::to_string(i + 1) + " (" +
                                      hex_byte(bytes[i]) +
                                      ") has bit 7 set: an instrument takes it for a new request");
        }
    }
    if (!info) {
        parsed.problems.push_back("unknown system sub-code " + hex_byte(subcode) +
                                  " (the library sends 0x00, 0x04 to 0x07, 0x20 and 0x30)");
        return parsed;
    }
    if (!parsed.problems.empty()) return parsed;
    Reader reader(bytes, parsed);
    build_call(*info, bytes, reader, parsed);
    return parsed;
}

}  // namespace qk42rt::wire
