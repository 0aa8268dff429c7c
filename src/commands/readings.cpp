// Flow, setpoint and maximum flow of a channel: one request and reply layout for all three.
#include "commands/commands.h"
#include "commands/run.h"
#include "protocol/frame.h"

namespace qk42rt::commands {
namespace {

constexpr std::uint8_t kFlowInvalidBit = 0x08;  // the flow reading alone reports -1.0

Outcome<Reading> read_channel_value(Line& line, protocol::Code code, int address, int channel) {
    const protocol::Request request{protocol::header_byte(address, code),
                                    protocol::channel_byte(channel)};
    Checked checked = run(line, request);
    if (checked.error) return *checked.error;
    const auto& bytes = checked.reply.bytes;
    Reading reading;
    reading.status = bytes[0] & 0x07;
    reading.value = protocol::reply_float(std::span<const std::uint8_t, 4>(bytes.data() + 1, 4));
    if (code == protocol::Code::read_flow && (bytes[0] & kFlowInvalidBit)) {
        reading.value = -1.0f;
        reading.flagged_invalid = true;
    }
    return reading;
}

}  // namespace

Outcome<Reading> read_flow(Line& line, int address, int channel) {
    return read_channel_value(line, protocol::Code::read_flow, address, channel);
}

Outcome<Reading> read_setpoint(Line& line, int address, int channel) {
    return read_channel_value(line, protocol::Code::read_setpoint, address, channel);
}

Outcome<Reading> read_maxflow(Line& line, int address, int channel) {
    return read_channel_value(line, protocol::Code::read_maxflow, address, channel);
}

}  // namespace qk42rt::commands
