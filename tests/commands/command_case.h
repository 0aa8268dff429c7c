// Runs one operation over a scripted port: the reply the instrument gives, the bytes the
// operation sent.
#pragma once

#include <string>

#include "commands/commands.h"
#include "support/scripted_port.h"

namespace qk42rt::testing {

struct Sent {
    std::string request;  // hex
    std::string calls;
};

template <class Operation>
auto run_against(const std::string& reply, Operation operation, Sent* sent) {
    ScriptedPort port;
    port.script(hex(reply));
    protocol::Line line(&port);
    auto outcome = operation(line);
    sent->request = port.requests().empty() ? "" : hex(port.last_request());
    sent->calls = port.calls();
    return outcome;
}

}  // namespace qk42rt::testing
