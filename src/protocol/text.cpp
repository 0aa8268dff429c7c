#include "protocol/text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace qk42rt::protocol {

std::string hex_byte(std::uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(byte));
    return text;
}

std::string hex_bytes(std::span<const std::uint8_t> bytes, const char* separator) {
    // By table, not printf: the simulator writes every byte of every exchange this way.
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) text += separator;
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::string float_text(float value, NonFinite spelling) {
    const bool prometheus = spelling == NonFinite::prometheus;
    // A NaN's sign bit means nothing, and "-nan" is more than some readers accept.
    if (std::isnan(value)) return prometheus ? "NaN" : "nan";
    if (std::isinf(value)) {
        if (prometheus) return value > 0 ? "+Inf" : "-Inf";
        return value > 0 ? "inf" : "-inf";
    }
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

std::optional<double> float_number(float value) {
    if (!std::isfinite(value)) return std::nullopt;
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    double number = 0.0;
    std::from_chars(text, written.ptr, number);
    return number;
}

}  // namespace qk42rt::protocol
