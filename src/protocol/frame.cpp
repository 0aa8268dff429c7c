#include "protocol/frame.h"

#include <cstring>

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

std::array<std::uint8_t, 5> packed_float(float value) {
    const std::array<std::uint8_t, 4> bytes = float_bytes(value);
    std::array<std::uint8_t, 5> packed{};
    for (std::size_t i = 0; i < 4; ++i) {
        if (bytes[i] & 0x80u) packed[0] = static_cast<std::uint8_t>(packed[0] | (1u << i));
        packed[i + 1] = static_cast<std::uint8_t>(bytes[i] & 0x7Fu);
    }
    return packed;
}

float unpacked_float(std::span<const std::uint8_t, 5> packed) {
    std::array<std::uint8_t, 4> bytes{};
    for (std::size_t i = 0; i < 4; ++i) {
        const bool high = (packed[0] >> i) & 1u;
        bytes[i] = static_cast<std::uint8_t>((packed[i + 1] & 0x7Fu) | (high ? 0x80u : 0u));
    }
    return reply_float(bytes);
}

float reply_float(std::span<const std::uint8_t, 4> bytes) {
    // Bytes arrive least significant first, which is memory order on every host we build for.
    float value = 0.0f;
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
}

std::array<std::uint8_t, 4> float_bytes(float value) {
    std::array<std::uint8_t, 4> bytes{};
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
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

}  // namespace qk42rt::protocol
