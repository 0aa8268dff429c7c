// The shape every operation shares: one exchange of a request, judged by its command's check.
#pragma once

#include <optional>

#include "protocol/command_table.h"
#include "protocol/exchange.h"

namespace qk42rt::commands {

// Runs `request` with the reply length and check of its command. Either the reply that
// passed, or the reason it did not.
struct Checked {
    protocol::Reply reply;
    std::optional<Error> error;
};

inline Checked run(protocol::Line& line, const protocol::Request& request) {
    const auto code = protocol::code_of(request.header());
    const std::uint8_t subcode = request.size > 1 ? request.bytes[1] : 0;
    const protocol::CommandInfo info = *protocol::command_info(code, subcode);
    Checked checked;
    checked.reply = line.exchange(request, info.reply_length);
    checked.error = protocol::judge(checked.reply, info.check, request.header());
    return checked;
}

// For operations whose only result is success.
inline Outcome<Done> run_for_done(protocol::Line& line, const protocol::Request& request) {
    Checked checked = run(line, request);
    if (checked.error) return *checked.error;
    return Done{};
}

}  // namespace qk42rt::commands
