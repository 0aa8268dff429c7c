// Integrated flow, integration time and integration control. The two readings are handed
// on byte for byte; the library does not interpret them.
#include "commands/commands.h"
#include "commands/run.h"
#include "protocol/frame.h"

namespace qk42rt::commands {
namespace {

using protocol::Code;

Outcome<FourBytes> four_bytes_of(Line& line, const protocol::Request& request) {
    Checked checked = run(line, request);
    if (checked.error) return *checked.error;
    const auto& bytes = checked.reply.bytes;
    return FourBytes{bytes[0], bytes[1], bytes[2], bytes[3]};
}

}  // namespace

Outcome<FourBytes> read_intflow(Line& line, int address, int channel) {
    return four_bytes_of(line, {protocol::header_byte(address, Code::read_intflow),
                                protocol::channel_byte(channel)});
}

Outcome<FourBytes> read_inttime(Line& line, int address) {
    return four_bytes_of(line, {protocol::header_byte(address, Code::read_inttime)});
}

Outcome<Done> int_control(Line& line, int address, int control) {
    // The control code is the instrument's: its low 8 bits go out unchecked, bit 7 included.
    return run_for_done(
        line, {protocol::header_byte(address, Code::int_control), protocol::low_byte(control)});
}

}  // namespace qk42rt::commands
