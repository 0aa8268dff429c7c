// System commands (code 0x0, told apart by a sub-code): version, display options, key lock.
#include <algorithm>
#include <string_view>

#include "commands/commands.h"
#include "commands/run.h"
#include "commands/version_text.h"
#include "protocol/frame.h"

namespace qk42rt::commands {

namespace op = protocol::op;

Outcome<Version> read_version(Line& line, int address) {
    Checked checked = run(line, {address, op::ReadVersion{}});
    if (checked.error) return *checked.error;
    const auto& bytes = checked.reply.bytes;
    const std::optional<int> kind = protocol::kind_of(bytes[3]);
    if (!kind) {
        Error error{Failure::unknown_kind, checked.reply.size, checked.reply.expected};
        error.got = bytes[3];
        return error;
    }
    Version version;
    version.kind = *kind;
    version.info1 = bytes[4];
    version.info2 = bytes[5];
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), 3);
    std::copy(text.begin(), text.end(), version.text.begin());
    version.number = scan_version_number(text.substr(0, text.find('\0')));
    return version;
}

Outcome<Done> set_display(Line& line, int address, int flag1, int flag2) {
    return run_for_done(line, {address, op::SetDisplay{flag1 != 0, flag2 != 0}});
}

Outcome<Done> set_key_lock(Line& line, int address, int locked) {
    return run_for_done(line, {address, op::SetKeyLock{locked != 0}});
}

}  // namespace qk42rt::commands
