// Reads the instrument's three-character version text as a number, the way "%f" reads it
// in the classic "C" locale, whatever locale the host process has set.
#pragma once

#include <optional>
#include <string_view>

namespace qk42rt::commands {

// Skips leading white space, then takes the longest prefix of the form: optional sign,
// decimal digits with at most one '.', optional exponent. Empty when no digit is found.
std::optional<float> scan_version_number(std::string_view text);

}  // namespace qk42rt::commands
