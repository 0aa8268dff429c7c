// What a qk42_line handle holds: the open port, the protocol's line over it with its own lock,
// and the last failure in words of each thread that uses it.
#pragma once

#include <cstdint>
#include <map>
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
    // By thread: two threads sharing a line each read the reason of their own last call.
    std::map<std::uint64_t, std::string> last_errors;
    std::string& last_error();  // the calling thread's; call under the lock
    qk42_trace_fn trace = nullptr;
    void* trace_user = nullptr;
};

namespace qk42rt::host {

// A number for the calling thread, the same for as long as it lives.
std::uint64_t this_thread_key();

// A handle over a port the caller already has (the in-memory port of the tests).
qk42_line* adopt_line(std::unique_ptr<Port> port);

}  // namespace qk42rt::host
