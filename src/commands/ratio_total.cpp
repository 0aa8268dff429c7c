// The ratio/total configuration (a channel, an 8-bit value, two more channels) and its mode.
#include "commands/commands.h"
#include "commands/run.h"
#include "protocol/frame.h"

namespace qk42rt::commands {
namespace {

using protocol::Code;

}  // namespace

Outcome<RatioTotal> read_ratio_total(Line& line, int address) {
    Checked checked = run(line, {protocol::header_byte(address, Code::read_ratio_total)});
    if (checked.error) return *checked.error;
    const auto& bytes = checked.reply.bytes;
    RatioTotal config;
    config.channel = (bytes[0] & 0x07) + 1;
    config.value = bytes[1];
    config.channel2 = ((bytes[2] >> 4) & 0x07) + 1;
    config.channel3 = (bytes[2] & 0x07) + 1;
    return config;
}

Outcome<Done> set_ratio_total(Line& line, int address, const RatioTotal& config) {
    const auto value = protocol::nibble_pair(config.value);
    const auto channels = static_cast<std::uint8_t>((protocol::channel_byte(config.channel2) << 4) |
                                                    protocol::channel_byte(config.channel3));
    return run_for_done(line,
                        {protocol::header_byte(address, Code::set_ratio_total),
                         protocol::channel_byte(config.channel), value[0], value[1], channels});
}

Outcome<Done> control_ratio_total(Line& line, int address, int mode) {
    return run_for_done(line, {protocol::header_byte(address, Code::control_ratio_total),
                               protocol::remainder_byte(mode, 3)});
}

}  // namespace qk42rt::commands
