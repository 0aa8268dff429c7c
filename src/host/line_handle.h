// What a qk42_line handle holds: the open port, the protocol's line over it with its own lock,
// and the last failure in words.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "host/line_lock.h"
#include "port/port.h"
#include "protocol/exchange.h"
#include "qk42.h"

struct qk42_line {
    qk42rt::host::LineLock mutex;  // one exchange at a time on this line
    std::unique_ptr<qk42rt::Port> port;
    qk42rt::protocol::Line line;
    std::string last_error;
    qk42_trace_fn trace = nullptr;
    void* trace_user = nullptr;
};

namespace qk42rt::host {

// A handle over a port the caller already has (the in-memory port of the tests).
qk42_line* adopt_line(std::unique_ptr<Port> port);

}  // namespace qk42rt::host
