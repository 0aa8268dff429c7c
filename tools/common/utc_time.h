// Time stamps as the tools print and record them: UTC, ISO 8601, to the millisecond.
#pragma once

#include <chrono>
#include <string>

namespace qk42rt {

// "2024-05-01T12:00:01.234Z".
std::string utc_text(std::chrono::system_clock::time_point when);

inline std::string utc_now() {
    return utc_text(std::chrono::system_clock::now());
}

}  // namespace qk42rt
