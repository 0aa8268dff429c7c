// The two clocks of the benchmark: the monotonic wall clock and the kernel's account of the
// CPU time this process has used (user + system, all threads).
#pragma once

#include <sys/resource.h>

#include <ctime>

namespace qk42rt::bench {

inline double wall_us() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

inline double cpu_us() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto us = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec);
    };
    return us(usage.ru_utime) + us(usage.ru_stime);
}

}  // namespace qk42rt::bench
