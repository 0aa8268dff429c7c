// The instrument's on/off state: eight bits for the whole instrument.
#include "commands/commands.h"
#include "commands/run.h"
#include "protocol/frame.h"

namespace qk42rt::commands {

Outcome<int> read_on_off(Line& line, int address) {
    Checked checked = run(line, {protocol::header_byte(address, protocol::Code::read_on_off)});
    if (checked.error) return *checked.error;
    return static_cast<int>(checked.reply.bytes[0]);
}

Outcome<Done> set_on_off(Line& line, int address, int state) {
    // Any one reply byte confirms: the instrument's answer here is not an acknowledge byte.
    const auto nibbles = protocol::nibble_pair(state);
    return run_for_done(
        line, {protocol::header_byte(address, protocol::Code::set_on_off), nibbles[0], nibbles[1]});
}

}  // namespace qk42rt::commands
