// Integrated flow, integration time and integration control. The two readings are handed
// on byte for byte; the library does not interpret them.
#include "commands/commands.h"
#include "commands/run.h"

namespace qk42rt::commands {
namespace {

namespace op = protocol::op;

Outcome<FourBytes> four_bytes_of(Line& line, const protocol::TypedRequest& request) {
    Checked checked = run(line, request);
    if (checked.error) return *checked.error;
    const auto& bytes = checked.reply.bytes;
    return FourBytes{bytes[0], bytes[1], bytes[2], bytes[3]};
}

}  // namespace

Outcome<FourBytes> read_intflow(Line& line, int address, int channel) {
    return four_bytes_of(line, {address, op::ReadIntflow{channel}});
}

Outcome<FourBytes> read_inttime(Line& line, int address) {
    return four_bytes_of(line, {address, op::ReadInttime{}});
}

Outcome<Done> int_control(Line& line, int address, int control) {
    return run_for_done(line, {address, op::IntControl{control}});
}

}  // namespace qk42rt::commands
