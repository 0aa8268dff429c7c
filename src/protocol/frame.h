// Encodings of the request header and of the fields inside requests and replies.
// Every function is defined for every int: arguments are reduced to their field's width
// as two's-complement arithmetic would, without signed overflow.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
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

// The four memory bytes of a float, least significant first (the reply form). Bytes travel
// least significant first, which is memory order on every host we build for.
inline std::array<std::uint8_t, 4> float_bytes(float value) {
    return std::bit_cast<std::array<std::uint8_t, 4>>(value);
}

// Four reply bytes, least significant first, taken unchanged as a float.
inline float reply_float(std::span<const std::uint8_t, 4> bytes) {
    return std::bit_cast<float>(
        std::array<std::uint8_t, 4>{bytes[0], bytes[1], bytes[2], bytes[3]});
}

// A float as five bytes with bit 7 clear: a high-bit byte (bit i = bit 7 of memory byte i),
// then the four memory bytes, least significant first, each with bit 7 cleared. Inline: the
// exhaustive test runs it for every one of the 2^32 bit patterns.
inline std::array<std::uint8_t, 5> packed_float(float value) {
    const std::array<std::uint8_t, 4> bytes = float_bytes(value);
    std::array<std::uint8_t, 5> packed{};
    for (std::size_t i = 0; i < 4; ++i) {
        packed[0] = static_cast<std::uint8_t>(packed[0] | ((bytes[i] >> 7) << i));
        packed[i + 1] = static_cast<std::uint8_t>(bytes[i] & 0x7Fu);
    }
    return packed;
}

// The inverse of packed_float, for the instrument's side of the line.
inline float unpacked_float(std::span<const std::uint8_t, 5> packed) {
    std::array<std::uint8_t, 4> bytes{};
    for (std::size_t i = 0; i < 4; ++i) {
        const unsigned high = (packed[0] >> i) & 1u;
        bytes[i] = static_cast<std::uint8_t>((packed[i + 1] & 0x7Fu) | (high << 7));
    }
    return std::bit_cast<float>(bytes);
}

// The instrument's acknowledgement of a request: its header with bit 7 cleared.
std::uint8_t ack_byte(std::uint8_t header);

// The low 8 bits of the truncating remainder of value / divisor (divisor > 0), as sent for
// the maximum-flow code (divisor 5) and the ratio/total mode (divisor 3).
std::uint8_t remainder_byte(int value, int divisor);

// The low 8 bits of an int.
std::uint8_t low_byte(int value);

// The unit byte of a set-unit request: (unit - 1) AND 0x03.
std::uint8_t unit_byte(int unit);

// Two channels in one byte: channel2's byte in bits 6..4, channel3's in bits 2..0.
std::uint8_t channel_pair_byte(int channel2, int channel3);

// System sub-codes: the display options (0x04, OR 0x02 for flag 1, OR 0x01 for flag 2) and
// the key lock (0x20, OR 0x10 when locked).
std::uint8_t display_subcode(bool flag1, bool flag2);
std::uint8_t key_lock_subcode(bool locked);

// The inverses, for the instrument's end of the line and for listeners on it. Each reads a
// byte as the instrument does: bits outside the field are ignored.

// The channel (1..8) of a channel byte: its low three bits, plus one.
int channel_of(std::uint8_t byte);

// The 8-bit value of a nibble pair.
std::uint8_t nibble_value(std::uint8_t high, std::uint8_t low);

// A remainder_byte() read back as the signed remainder it was made from: 0xFF is -1.
int signed_remainder(std::uint8_t byte);

// The unit (1..4) of a unit byte.
int unit_of(std::uint8_t byte);

// channel2 and channel3 (1..8 each) of a channel-pair byte, in that order.
std::array<int, 2> channel_pair_of(std::uint8_t byte);

// The flags of a display sub-code and the state of a key-lock sub-code.
std::array<bool, 2> display_flags_of(std::uint8_t subcode);
bool key_locked_of(std::uint8_t subcode);

// Reply fields. A 4-byte quantity (integrated flow, integration time) read as the unsigned
// count it holds, least significant byte first, and the four bytes of a count.
std::uint32_t count_of(std::span<const std::uint8_t, 4> bytes);
std::array<std::uint8_t, 4> count_bytes(std::uint32_t count);

// The status byte of a channel reading: its low three bits are the status, and bit 3 makes
// the flow reading (not the setpoint or maximum flow) report -1.0.
inline constexpr std::uint8_t kFlowInvalidBit = 0x08;
inline int status_of(std::uint8_t status_byte) {
    return status_byte & 0x07;
}
inline bool flow_flagged_invalid(std::uint8_t status_byte) {
    return (status_byte & kFlowInvalidBit) != 0;
}

// The version reply's kind letter: 'M' is kind 0, 'C' kind 1; any other letter is no kind.
inline constexpr std::array<char, 2> kKindLetters{'M', 'C'};
std::optional<int> kind_of(std::uint8_t letter);
char kind_letter(int kind);  // 'M' for 0, 'C' otherwise

}  // namespace qk42rt::protocol
