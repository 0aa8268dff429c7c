// Encodings of the request header and of the fields inside requests and replies.
// Every function is defined for every int: arguments are reduced to their field's width
// as two's-complement arithmetic would, without signed overflow.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "protocol/command_table.h"

namespace qk42rt::protocol {

// Bit 7 set, bits 6..4 the low three bits of (address - 1), bits 3..0 the command code.
std::uint8_t header_byte(int address, std::uint8_t code);
inline std::uint8_t header_byte(int address, Code code) {
    return header_byte(address, static_cast<std::uint8_t>(code));
}

// The low three bits of (channel - 1): channel 1 is 0x00, channels 0 and 8 are 0x07.
std::uint8_t channel_byte(int channel);

// An 8-bit value as two bytes: bits 7..4, then bits 3..0.
std::array<std::uint8_t, 2> nibble_pair(int value);

// A float as five bytes with bit 7 clear: a high-bit byte (bit i = bit 7 of memory byte i),
// then the four memory bytes, least significant first, each with bit 7 cleared.
std::array<std::uint8_t, 5> packed_float(float value);

// The inverse of packed_float, for the instrument's side of the line.
float unpacked_float(std::span<const std::uint8_t, 5> packed);

// Four reply bytes, least significant first, taken unchanged as a float.
float reply_float(std::span<const std::uint8_t, 4> bytes);

// The four memory bytes of a float, least significant first (the reply form).
std::array<std::uint8_t, 4> float_bytes(float value);

// The instrument's acknowledgement of a request: its header with bit 7 cleared.
std::uint8_t ack_byte(std::uint8_t header);

// The low 8 bits of the truncating remainder of value / divisor (divisor > 0), as sent for
// the maximum-flow code (divisor 5) and the ratio/total mode (divisor 3).
std::uint8_t remainder_byte(int value, int divisor);

// The low 8 bits of an int.
std::uint8_t low_byte(int value);

}  // namespace qk42rt::protocol
