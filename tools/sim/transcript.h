// Transcript lines: seconds since the simulator started, a direction or "event", and bytes in
// hexadecimal ("   1.234567 rx 83 00").
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace qk42rt::sim {

std::string transcript_line(std::chrono::steady_clock::duration since_start, std::string_view what,
                            std::string_view text);

}  // namespace qk42rt::sim
