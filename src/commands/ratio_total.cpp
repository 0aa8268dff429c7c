// The ratio/total configuration (a channel, an 8-bit value, two more channels) and its mode.
#include "commands/commands.h"
#include "commands/run.h"
#include "protocol/replies.h"

namespace qk42rt::commands {

namespace op = protocol::op;

Outcome<RatioTotal> read_ratio_total(Line& line, int address) {
    Checked checked = run(line, {address, op::ReadRatioTotal{}});
    if (checked.error) return *checked.error;
    return protocol::ratio_total_of(
        std::span<const std::uint8_t, 3>(checked.reply.bytes.data(), 3));
}

Outcome<Done> set_ratio_total(Line& line, int address, const RatioTotal& config) {
    return run_for_done(line, {address, op::SetRatioTotal{config}});
}

Outcome<Done> control_ratio_total(Line& line, int address, int mode) {
    return run_for_done(line, {address, op::ControlRatioTotal{mode}});
}

}  // namespace qk42rt::commands
