#include "transcript.h"

#include <cstdio>

namespace qk42rt::sim {

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
