// The instrument's on/off state: eight bits for the whole instrument.
#include "commands/commands.h"
#include "commands/run.h"

namespace qk42rt::commands {

namespace op = protocol::op;

Outcome<int> read_on_off(Line& line, int address) {
    Checked checked = run(line, {address, op::ReadOnOff{}});
    if (checked.error) return *checked.error;
    return static_cast<int>(checked.reply.bytes[0]);
}

Outcome<Done> set_on_off(Line& line, int address, int state) {
    // Any one reply byte confirms: the instrument's answer here is not an acknowledge byte.
    return run_for_done(line, {address, op::SetOnOff{state}});
}

}  // namespace qk42rt::commands
