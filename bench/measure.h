// Timings: the two clocks, a contender's samples and their order statistics, and contenders
// taking turns in short blocks so that drift of a shared machine hits all of them alike.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <vector>

namespace qk42rt::bench {

inline double wall_us() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double, std::micro>(now).count();
}

// User + system time of this process, all threads: too coarse and costly to read per call.
inline double cpu_us() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// Asks `done` every millisecond until it holds; false when `seconds` pass first.
bool wait_until(double seconds, const std::function<bool()>& done);

struct Samples {
    std::vector<double> wall_us;  // one per call
    double cpu_us = 0.0;          // of all the calls
    std::size_t failures = 0;
    double cpu_per_call() const { return wall_us.empty() ? 0.0 : cpu_us / wall_us.size(); }
};

// `count` calls of `call` (true: answered), each on the wall clock, the block on the CPU's.
template <typename Call>
void time_calls(int count, Samples& out, Call&& call) {
    const double cpu_start = cpu_us();
    for (int i = 0; i < count; ++i) {
        const double start = wall_us();
        const bool answered = call();
        out.wall_us.push_back(wall_us() - start);
        out.failures += answered ? 0 : 1;
    }
    out.cpu_us += cpu_us() - cpu_start;
}

// A contender's turn: `count` timed calls into `out`.
using Turn = std::function<void(int count, Samples& out)>;

template <typename Call>
Turn turn_of(Call call) {
    return [call](int count, Samples& out) mutable { time_calls(count, out, call); };
}

// Each contender makes 20 untimed calls, then `calls` in turns of 10. Round by round the order
// runs through every permutation, so that each follows each other equally often: whoever comes
// right after a Python process pays for the switch back.
std::vector<Samples> take_turns(const std::vector<Turn>& turns, int calls);

struct Summary {
    std::size_t count = 0;
    double min = 0.0, median = 0.0, p99 = 0.0, max = 0.0;
};

// Nearest-rank percentiles; an empty set gives all zeros.
Summary summarize(std::vector<double> samples);

}  // namespace qk42rt::bench
