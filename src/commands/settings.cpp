// Unit, setpoint and maximum flow of a channel. Floats travel packed so that no data byte
// has bit 7 set.
#include "commands/commands.h"
#include "commands/run.h"
#include "protocol/frame.h"

namespace qk42rt::commands {
namespace {

using protocol::Code;

std::uint8_t header(int address, Code code) {
    return protocol::header_byte(address, code);
}

protocol::Request packed_float_request(int address, Code code, int channel, float value) {
    protocol::Request request{header(address, code), protocol::channel_byte(channel)};
    for (std::uint8_t byte : protocol::packed_float(value)) request.push(byte);
    return request;
}

}  // namespace

Outcome<int> read_unit(Line& line, int address, int channel) {
    Checked checked =
        run(line, {header(address, Code::read_unit), protocol::channel_byte(channel)});
    if (checked.error) return *checked.error;
    return checked.reply.bytes[0] + 1;  // the whole byte: 0xFF reads as 256
}

Outcome<Done> set_unit(Line& line, int address, int channel, int unit) {
    const auto unit_bits = static_cast<std::uint8_t>((static_cast<unsigned>(unit) - 1u) & 0x03u);
    return run_for_done(
        line, {header(address, Code::set_unit), protocol::channel_byte(channel), unit_bits});
}

Outcome<Done> set_setpoint(Line& line, int address, int channel, float setpoint) {
    return run_for_done(line, packed_float_request(address, Code::set_setpoint, channel, setpoint));
}

Outcome<Done> set_maxflow(Line& line, int address, int channel, float maxflow, int code) {
    protocol::Request request = packed_float_request(address, Code::set_maxflow, channel, maxflow);
    request.push(protocol::remainder_byte(code, 5));
    return run_for_done(line, request);
}

}  // namespace qk42rt::commands
