#include "transcript.h"

#include <cstdio>

namespace qk42rt::sim {

std::string hex_bytes(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) text += ' ';
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::string transcript_line(std::chrono::steady_clock::duration since_start, std::string_view what,
                            std::string_view text) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%11.6f ",
                  std::chrono::duration<double>(since_start).count());
    std::string line = stamp;
    line += what;
    if (!text.empty()) {
        line += ' ';
        line += text;
    }
    return line;
}

}  // namespace qk42rt::sim
