// One exchange as the library sees it: the request as its operation and arguments, the reply
// (when there is one) as that very operation makes of it, and anything malformed named.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/outcome.h"

namespace qk42rt::wire {

using Bytes = std::vector<std::uint8_t>;

struct Decoded {
    // The request is one the library sends, its operation re-encodes to the same bytes, and
    // the reply (if given) is as long as the command's reply and passed the library's checks.
    bool valid = false;
    bool malformed = false;             // the request or the reply's length is wrong
    std::optional<Error> error;         // the library's reason for failing the reply
    std::string meaning;                // "read flow  address 1  channel 2  -> status 2, flow 100"
    std::vector<std::string> notes;     // sent as the library sends it, but worth knowing
    std::vector<std::string> problems;  // what is malformed
    nlohmann::json json;
};

// `reply` empty: the request alone (nothing said about a reply). An empty vector is a reply
// of no bytes at all.
Decoded decode_exchange(std::span<const std::uint8_t> request, const std::optional<Bytes>& reply);

// The line `decode` prints: the meaning, then any notes and problems.
std::string decoded_line(const Decoded& decoded);

}  // namespace qk42rt::wire
