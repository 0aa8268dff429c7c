// Flow, setpoint and maximum flow of a channel: one request and reply layout for all three.
#include "commands/commands.h"
#include "commands/run.h"
#include "protocol/frame.h"

namespace qk42rt::commands {
namespace {

namespace op = protocol::op;

Outcome<Reading> read_channel_value(Line& line, const protocol::TypedRequest& request, bool flow) {
    Checked checked = run(line, request);
    if (checked.error) return *checked.error;
    const auto& bytes = checked.reply.bytes;
    Reading reading;
    reading.status = protocol::status_of(bytes[0]);
    reading.value = protocol::reply_float(std::span<const std::uint8_t, 4>(bytes.data() + 1, 4));
    if (flow && protocol::flow_flagged_invalid(bytes[0])) {
        reading.value = -1.0f;
        reading.flagged_invalid = true;
    }
    return reading;
}

}  // namespace

Outcome<Reading> read_flow(Line& line, int address, int channel) {
    return read_channel_value(line, {address, op::ReadFlow{channel}}, true);
}

Outcome<Reading> read_setpoint(Line& line, int address, int channel) {
    return read_channel_value(line, {address, op::ReadSetpoint{channel}}, false);
}

Outcome<Reading> read_maxflow(Line& line, int address, int channel) {
    return read_channel_value(line, {address, op::ReadMaxflow{channel}}, false);
}

}  // namespace qk42rt::commands
