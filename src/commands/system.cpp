// System commands (code 0x0, told apart by a sub-code): version, display options, key lock.
#include <algorithm>
#include <string_view>

#include "commands/commands.h"
#include "commands/run.h"
#include "commands/version_text.h"
#include "protocol/frame.h"

namespace qk42rt::commands {
namespace {

using protocol::Code;

protocol::Request system_request(int address, std::uint8_t subcode) {
    return {protocol::header_byte(address, Code::system), subcode};
}

}  // namespace

Outcome<Version> read_version(Line& line, int address) {
    Checked checked = run(line, system_request(address, protocol::kSubReadVersion));
    if (checked.error) return *checked.error;
    const auto& bytes = checked.reply.bytes;
    Version version;
    switch (bytes[3]) {
        case 'M':
            version.kind = 0;
            break;
        case 'C':
            version.kind = 1;
            break;
        default: {
            Error error{Failure::unknown_kind, checked.reply.size, checked.reply.expected};
            error.got = bytes[3];
            return error;
        }
    }
    version.info1 = bytes[4];
    version.info2 = bytes[5];
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), 3);
    std::copy(text.begin(), text.end(), version.text.begin());
    version.number = scan_version_number(text.substr(0, text.find('\0')));
    return version;
}

Outcome<Done> set_display(Line& line, int address, int flag1, int flag2) {
    std::uint8_t subcode = protocol::kSubDisplay;
    if (flag1 != 0) subcode |= 0x02;
    if (flag2 != 0) subcode |= 0x01;
    return run_for_done(line, system_request(address, subcode));
}

Outcome<Done> set_key_lock(Line& line, int address, int locked) {
    std::uint8_t subcode = protocol::kSubKeyLock;
    if (locked != 0) subcode |= protocol::kKeyLockedBit;
    return run_for_done(line, system_request(address, subcode));
}

}  // namespace qk42rt::commands
