// Unit, setpoint and maximum flow of a channel. Floats travel packed so that no data byte
// has bit 7 set.
#include "commands/commands.h"
#include "commands/run.h"

namespace qk42rt::commands {

namespace op = protocol::op;

Outcome<int> read_unit(Line& line, int address, int channel) {
    Checked checked = run(line, {address, op::ReadUnit{channel}});
    if (checked.error) return *checked.error;
    return checked.reply.bytes[0] + 1;  // the whole byte: 0xFF reads as 256
}

Outcome<Done> set_unit(Line& line, int address, int channel, int unit) {
    return run_for_done(line, {address, op::SetUnit{channel, unit}});
}

Outcome<Done> set_setpoint(Line& line, int address, int channel, float setpoint) {
    return run_for_done(line, {address, op::SetSetpoint{channel, setpoint}});
}

Outcome<Done> set_maxflow(Line& line, int address, int channel, float maxflow, int code) {
    return run_for_done(line, {address, op::SetMaxflow{channel, maxflow, code}});
}

}  // namespace qk42rt::commands
