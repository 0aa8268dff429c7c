#include "protocol/frame.h"

namespace qk42rt::protocol {
namespace {

// Two's-complement arithmetic on ints, done in unsigned so that no value overflows.
unsigned minus_one(int value) {
    return static_cast<unsigned>(value) - 1u;
}

}  // namespace

std::uint8_t header_byte(int address, std::uint8_t code) {
    return static_cast<std::uint8_t>(((minus_one(address) << 4) & 0x70u) | 0x80u | (code & 0x0Fu));
}

std::uint8_t channel_byte(int channel) {
    return static_cast<std::uint8_t>(minus_one(channel) & 0x07u);
}

std::array<std::uint8_t, 2> nibble_pair(int value) {
    const auto bits = static_cast<unsigned>(value);
    return {static_cast<std::uint8_t>((bits >> 4) & 0x0Fu),
            static_cast<std::uint8_t>(bits & 0x0Fu)};
}

std::uint8_t ack_byte(std::uint8_t header) {
    return static_cast<std::uint8_t>(header & 0x7Fu);
}

std::uint8_t remainder_byte(int value, int divisor) {
    // With a positive divisor, % cannot overflow, even for INT_MIN.
    return low_byte(value % divisor);
}

std::uint8_t low_byte(int value) {
    return static_cast<std::uint8_t>(static_cast<unsigned>(value) & 0xFFu);
}

std::uint8_t unit_byte(int unit) {
    return static_cast<std::uint8_t>(minus_one(unit) & 0x03u);
}

std::uint8_t channel_pair_byte(int channel2, int channel3) {
    return static_cast<std::uint8_t>((channel_byte(channel2) << 4) | channel_byte(channel3));
}

std::uint8_t display_subcode(bool flag1, bool flag2) {
    return static_cast<std::uint8_t>(kSubDisplay | (flag1 ? 0x02u : 0u) | (flag2 ? 0x01u : 0u));
}

std::uint8_t key_lock_subcode(bool locked) {
    return static_cast<std::uint8_t>(kSubKeyLock | (locked ? kKeyLockedBit : 0u));
}

int channel_of(std::uint8_t byte) {
    return (byte & 0x07) + 1;
}

std::uint8_t nibble_value(std::uint8_t high, std::uint8_t low) {
    return static_cast<std::uint8_t>(((high & 0x0Fu) << 4) | (low & 0x0Fu));
}

int signed_remainder(std::uint8_t byte) {
    return byte >= 0x80 ? byte - 0x100 : byte;
}

int unit_of(std::uint8_t byte) {
    return (byte & 0x03) + 1;
}

std::array<int, 2> channel_pair_of(std::uint8_t byte) {
    return {channel_of(static_cast<std::uint8_t>(byte >> 4)), channel_of(byte)};
}

std::array<bool, 2> display_flags_of(std::uint8_t subcode) {
    return {(subcode & 0x02u) != 0, (subcode & 0x01u) != 0};
}

bool key_locked_of(std::uint8_t subcode) {
    return (subcode & kKeyLockedBit) != 0;
}

std::uint32_t count_of(std::span<const std::uint8_t, 4> bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

std::array<std::uint8_t, 4> count_bytes(std::uint32_t count) {
    return {static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8),
            static_cast<std::uint8_t>(count >> 16), static_cast<std::uint8_t>(count >> 24)};
}

std::optional<int> kind_of(std::uint8_t letter) {
    for (std::size_t kind = 0; kind < kKindLetters.size(); ++kind) {
        if (letter == static_cast<std::uint8_t>(kKindLetters[kind])) return static_cast<int>(kind);
    }
    return std::nullopt;
}

char kind_letter(int kind) {
    return kind == 0 ? kKindLetters[0] : kKindLetters[1];
}

}  // namespace qk42rt::protocol
