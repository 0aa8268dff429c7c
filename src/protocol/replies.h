// The replies that carry values, as the instrument builds them and as the library reads them
// back; the acknowledge byte is in frame.h.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "protocol/request.h"

namespace qk42rt::protocol {

// A channel reading: the status byte, then the float's four bytes, least significant first.
std::array<std::uint8_t, 5> reading_reply(std::uint8_t status_byte, float value);

// The ratio/total configuration: channel - 1, the value, then channel2 - 1 in bits 6..4 and
// channel3 - 1 in bits 2..0.
std::array<std::uint8_t, 3> ratio_total_reply(const RatioTotal& config);
RatioTotal ratio_total_of(std::span<const std::uint8_t, 3> reply);

// The version: three characters of text, the kind letter, two information bytes.
std::array<std::uint8_t, 6> version_reply(std::span<const char, 3> text, std::uint8_t kind_letter,
                                          std::uint8_t info1, std::uint8_t info2);

}  // namespace qk42rt::protocol
