// The version text reader against the C library's own strtof (this process never sets a
// locale, so strtof reads as the classic locale does) on texts of the decimal alphabet.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "commands/version_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size < 3 ? size : 3);
    const auto number = qk42rt::commands::scan_version_number(text);
    // strtof also reads hexadecimal, infinities and NaNs, which the instrument never sends
    // and the version reader does not take; compare only on the decimal alphabet.
    if (text.find_first_not_of("0123456789.eE+- \t\n\v\f\r") != std::string::npos) return 0;
    if (text.find('\0') != std::string::npos) return 0;
    char* end = nullptr;
    const float expected = std::strtof(text.c_str(), &end);
    const bool read_something = end != text.c_str();
    if (number.has_value() != read_something) std::abort();
    if (number && std::memcmp(&*number, &expected, sizeof expected) != 0) std::abort();
    return 0;
}
