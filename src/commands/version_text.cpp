#include "commands/version_text.h"

#include <charconv>
#include <limits>
#include <string>

namespace qk42rt::commands {
namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The white space of the classic locale.
bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

std::optional<float> scan_version_number(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_space(text[i])) ++i;
    // from_chars takes neither '+' nor white space, so collect a clean copy as we go.
    std::string number;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') number += '-';
        ++i;
    }
    bool digits = false;
    while (i < text.size() && is_digit(text[i])) number += text[i++], digits = true;
    if (i < text.size() && text[i] == '.') {
        number += text[i++];
        while (i < text.size() && is_digit(text[i])) number += text[i++], digits = true;
    }
    if (!digits) return std::nullopt;
    // An exponent counts only when at least one digit follows its letter and sign.
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent += text[j++];
        if (j < text.size() && is_digit(text[j])) {
            while (j < text.size() && is_digit(text[j])) exponent += text[j++];
            number += exponent;
        }
    }
    float value = 0.0f;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range) {
        // strtof gives infinity or zero with the sign of the text; so do we.
        const bool negative = number[0] == '-';
        const bool tiny = number.find("e-") != std::string::npos;
        value = tiny ? 0.0f : std::numeric_limits<float>::infinity();
        if (negative) value = -value;
        return value;
    }
    if (error != std::errc{} || end != number.data() + number.size()) return std::nullopt;
    return value;
}

}  // namespace qk42rt::commands
