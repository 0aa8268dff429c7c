// Bytes and floats as text: one spelling for every face, NaN and the infinities included.
#include "protocol/text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>

namespace qk42rt::protocol {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(FloatText, ShortestTextOrTheOneSpellingOfEachNonFiniteValue) {
    struct Case {
        float value;
        const char* plain;
        const char* prometheus;
        std::optional<double> number;
    } cases[] = {
        {43.67f, "43.67", "43.67", 43.67},
        {0.1f, "0.1", "0.1", 0.1},
        {250.0f, "250", "250", 250.0},
        {1e10f, "1e+10", "1e+10", 1e10},
        {-1.0f, "-1", "-1", -1.0},
        {-0.0f, "-0", "-0", -0.0},
        {std::bit_cast<float>(0x7FC00000u), "nan", "NaN", std::nullopt},
        {std::bit_cast<float>(0xFFC00000u), "nan", "NaN", std::nullopt},  // sign bit set
        {std::bit_cast<float>(0x7F800001u), "nan", "NaN", std::nullopt},  // signalling
        {kInf, "inf", "+Inf", std::nullopt},
        {-kInf, "-inf", "-Inf", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto bits = std::bit_cast<std::uint32_t>(c.value);
        EXPECT_EQ(float_text(c.value), c.plain) << std::hex << bits;
        EXPECT_EQ(float_text(c.value, NonFinite::prometheus), c.prometheus) << std::hex << bits;
        EXPECT_EQ(float_number(c.value), c.number) << std::hex << bits;
    }
}

TEST(HexText, BytesAndSingleBytes) {
    const std::uint8_t bytes[] = {0x8E, 0x00, 0x04, 0xFF};
    EXPECT_EQ(hex_bytes(bytes), "8E 00 04 FF");
    EXPECT_EQ(hex_bytes(bytes, ""), "8E0004FF");
    EXPECT_EQ(hex_bytes({}), "");
    EXPECT_EQ(hex_byte(0x0A), "0x0A");
}

}  // namespace
}  // namespace qk42rt::protocol
