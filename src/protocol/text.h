// Bytes and floats as text, one way for every face: the client, the server, the wire tools,
// the simulator's transcript and the library's reasons.
//
// A float is written as the shortest decimal that reads back as the same float ("43.67", not
// "43.6699982"; "1e+10"). A float that is not a number is "nan", whatever its sign bit, and
// the infinities are "inf" and "-inf". JSON has no such numbers: float_number() gives none,
// and JSON shows null. Prometheus spells them its own way ("NaN", "+Inf", "-Inf").
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qk42rt::protocol {

// "0x8E".
std::string hex_byte(std::uint8_t byte);

// "8E 00 04", or with another separator ("8E0004" with "").
std::string hex_bytes(std::span<const std::uint8_t> bytes, const char* separator = " ");

enum class NonFinite {
    plain,       // nan, inf, -inf
    prometheus,  // NaN, +Inf, -Inf: the exposition format's spelling
};

// The shortest text that reads back as the same float.
std::string float_text(float value, NonFinite spelling = NonFinite::plain);

// The float as the double its shortest text reads as (0.1f is 0.1, not 0.10000000149011612),
// ready for JSON; empty when the float is not finite.
std::optional<double> float_number(float value);

}  // namespace qk42rt::protocol
