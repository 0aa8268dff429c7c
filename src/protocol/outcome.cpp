#include "protocol/outcome.h"

#include <cstdio>

namespace qk42rt {

std::string describe(const Error& error) {
    char text[96];
    switch (error.why) {
        case Failure::no_port:
            return "no port is open";
        case Failure::no_reply:
            std::snprintf(text, sizeof text, "no reply: 0 of %zu bytes within %d ms",
                          error.expected, error.timeout_ms);
            return text;
        case Failure::short_reply:
            std::snprintf(text, sizeof text, "short reply: %zu of %zu bytes", error.received,
                          error.expected);
            return text;
        case Failure::wrong_ack:
            std::snprintf(text, sizeof text, "wrong acknowledge: 0x%02X instead of 0x%02X",
                          error.got, error.wanted);
            return text;
        case Failure::line_closed:
            std::snprintf(text, sizeof text,
                          "line closed (hung up or connection dropped): %zu of %zu bytes",
                          error.received, error.expected);
            return text;
        case Failure::unknown_kind:
            std::snprintf(text, sizeof text, "unknown kind letter 0x%02X (neither 'M' nor 'C')",
                          error.got);
            return text;
    }
    return "unknown failure";
}

}  // namespace qk42rt
