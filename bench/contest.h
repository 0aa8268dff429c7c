// One contender's timings in an interleaved contest, and the blocks of calls that fill them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "clocks.h"
#include "operations.h"

namespace qk42rt::bench {

class ChildProcess;

struct Samples {
    std::vector<double> wall_us;
    double cpu_us = 0.0;
    std::size_t failures = 0;

    double cpu_per_call() const {
        return wall_us.empty() ? 0.0 : cpu_us / static_cast<double>(wall_us.size());
    }
};

// `count` calls of the exported function, each timed on the wall clock, the block on the CPU
// clock (getrusage is too coarse and too costly to read per call).
void library_block(const Operation& op, int count, Samples& out);

// `count` calls of `operation` in one of the benchmark's Python clients (pyserial_client.py,
// qk42_client.py), which times them itself and answers "done CPU_NS FAILURES WALL_NS...": its
// CPU time as the kernel counts it for that process, then one wall time per call.
void client_block(ChildProcess& client, const std::string& operation, int count, Samples& out);

// The same request and reply sent by hand on `line`, whose exchange(request, reply) returns
// the reply bytes received.
template <typename BareExchange>
void bare_block(BareExchange& line, const Operation& op, int count, Samples& out) {
    std::uint8_t reply[8] = {};
    const std::span<std::uint8_t> want(reply, op.reply_length);
    const double cpu_start = cpu_us();
    for (int i = 0; i < count; ++i) {
        const double start = wall_us();
        const std::size_t got = line.exchange(op.request, want);
        out.wall_us.push_back(wall_us() - start);
        if (got != op.reply_length) ++out.failures;
    }
    out.cpu_us += cpu_us() - cpu_start;
}

}  // namespace qk42rt::bench
