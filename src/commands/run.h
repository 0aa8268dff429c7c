// The shape every operation shares: one exchange of a typed request, judged by its command's
// check.
#pragma once

#include <optional>

#include "protocol/command_table.h"
#include "protocol/exchange.h"
#include "protocol/request.h"

namespace qk42rt::commands {

// Runs `request` with the reply length and check of its command. Either the reply that
// passed, or the reason it did not.
struct Checked {
    protocol::Reply reply;
    std::optional<Error> error;
};

inline Checked run(protocol::Line& line, const protocol::TypedRequest& request) {
    const protocol::Request bytes = protocol::encode(request);
    const protocol::CommandInfo info = protocol::command_of(request.operation);
    Checked checked;
    checked.reply = line.exchange(bytes, info.reply_length);
    checked.error = protocol::judge(checked.reply, info.check, bytes.header());
    return checked;
}

// For operations whose only result is success.
inline Outcome<Done> run_for_done(protocol::Line& line, const protocol::TypedRequest& request) {
    Checked checked = run(line, request);
    if (checked.error) return *checked.error;
    return Done{};
}

}  // namespace qk42rt::commands
