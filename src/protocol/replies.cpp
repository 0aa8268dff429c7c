#include "protocol/replies.h"

#include "protocol/frame.h"

namespace qk42rt::protocol {

std::array<std::uint8_t, 5> reading_reply(std::uint8_t status_byte, float value) {
    const auto bytes = float_bytes(value);
    return {status_byte, bytes[0], bytes[1], bytes[2], bytes[3]};
}

std::array<std::uint8_t, 3> ratio_total_reply(const RatioTotal& config) {
    return {channel_byte(config.channel), low_byte(config.value),
            channel_pair_byte(config.channel2, config.channel3)};
}

RatioTotal ratio_total_of(std::span<const std::uint8_t, 3> reply) {
    const auto pair = channel_pair_of(reply[2]);
    return {channel_of(reply[0]), reply[1], pair[0], pair[1]};
}

std::array<std::uint8_t, 6> version_reply(std::span<const char, 3> text, std::uint8_t kind_letter,
                                          std::uint8_t info1, std::uint8_t info2) {
    return {static_cast<std::uint8_t>(text[0]),
            static_cast<std::uint8_t>(text[1]),
            static_cast<std::uint8_t>(text[2]),
            kind_letter,
            info1,
            info2};
}

}  // namespace qk42rt::protocol
