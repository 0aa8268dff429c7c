// Wire encodings, table by table, including the reductions of out-of-range ints.
#include "protocol/frame.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "support/scripted_port.h"

namespace qk42rt::protocol {
namespace {

using testing::hex;

TEST(HeaderByte, CarriesLowThreeBitsOfAddressMinusOneAndTheCode) {
    struct Case {
        int address;
        std::uint8_t code;
        std::uint8_t header;
    } cases[] = {
        {1, 0x3, 0x83},       {3, 0x3, 0xA3},   {8, 0x0, 0xF0},  {0, 0xF, 0xFF},
        {9, 0xE, 0x8E},       {2, 0xE, 0x9E},   {-1, 0x1, 0xE1}, {INT_MIN, 0x2, 0xF2},
        {INT_MAX, 0x2, 0xE2}, {256, 0x7, 0xF7},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(header_byte(c.address, c.code), c.header) << "address " << c.address;
    }
}

TEST(ChannelByte, IsLowThreeBitsOfChannelMinusOne) {
    const std::pair<int, std::uint8_t> cases[] = {{1, 0x00},       {8, 0x07},       {0, 0x07},
                                                  {9, 0x00},       {5, 0x04},       {-1, 0x06},
                                                  {INT_MIN, 0x07}, {INT_MAX, 0x06}, {256, 0x07}};
    for (const auto& [channel, byte] : cases) EXPECT_EQ(channel_byte(channel), byte) << channel;
}

TEST(NibblePair, SendsBits7To4ThenBits3To0) {
    const std::pair<int, const char*> cases[] = {
        {0x5A, "05 0A"}, {0x1FF, "0F 0F"},   {300, "02 0C"},    {0xA5, "0A 05"},
        {-1, "0F 0F"},   {INT_MIN, "00 00"}, {INT_MAX, "0F 0F"}};
    for (const auto& [value, bytes] : cases) EXPECT_EQ(hex(nibble_pair(value)), bytes) << value;
}

TEST(PackedFloat, MovesBit7OfEachByteIntoTheHighBitByte) {
    const std::pair<float, const char*> cases[] = {
        {1.0f, "04 00 00 00 3F"},
        {-1.0f, "0C 00 00 00 3F"},
        {0.5f, "00 00 00 00 3F"},
        {100.0f, "04 00 00 48 42"},
        {-0.0f, "08 00 00 00 00"},
        {std::numeric_limits<float>::infinity(), "04 00 00 00 7F"},
        {std::numeric_limits<float>::denorm_min(), "00 01 00 00 00"},
    };
    for (const auto& [value, bytes] : cases) {
        const auto packed = packed_float(value);
        EXPECT_EQ(hex(packed), bytes) << value;
        for (std::size_t i = 1; i < packed.size(); ++i) EXPECT_LT(packed[i], 0x80);
        EXPECT_EQ(float_bytes(unpacked_float(packed)), float_bytes(value));
    }
}

TEST(PackedFloat, KeepsEveryBitOfANaN) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(float_bytes(unpacked_float(packed_float(nan))), float_bytes(nan));
}

TEST(ReplyFloat, TakesFourBytesLeastSignificantFirstUnchanged) {
    const std::array<std::uint8_t, 4> hundred{0x00, 0x00, 0xC8, 0x42};
    EXPECT_EQ(reply_float(hundred), 100.0f);
    const std::array<std::uint8_t, 4> minus_one{0x00, 0x00, 0x80, 0xBF};
    EXPECT_EQ(reply_float(minus_one), -1.0f);
}

TEST(AckByte, IsTheHeaderWithBit7Cleared) {
    EXPECT_EQ(ack_byte(0x8E), 0x0E);
    EXPECT_EQ(ack_byte(0x9E), 0x1E);
    EXPECT_EQ(ack_byte(0xFF), 0x7F);
}

TEST(RemainderByte, TruncatesTowardZeroAndSendsTheLow8Bits) {
    struct Case {
        int value;
        int divisor;
        std::uint8_t byte;
    } cases[] = {
        {7, 5, 0x02},       {2, 5, 0x02},       {-1, 5, 0xFF},      {-7, 5, 0xFE},
        {INT_MIN, 5, 0xFD}, {INT_MAX, 5, 0x02}, {4, 3, 0x01},       {3, 3, 0x00},
        {-1, 3, 0xFF},      {INT_MIN, 3, 0xFE}, {INT_MAX, 3, 0x01},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(remainder_byte(c.value, c.divisor), c.byte) << c.value << " % " << c.divisor;
    }
}

TEST(LowByte, IsTwosComplementLow8Bits) {
    EXPECT_EQ(low_byte(0x85), 0x85);
    EXPECT_EQ(low_byte(-1), 0xFF);
    EXPECT_EQ(low_byte(256), 0x00);
    EXPECT_EQ(low_byte(INT_MIN), 0x00);
    EXPECT_EQ(low_byte(INT_MAX), 0xFF);
}

}  // namespace
}  // namespace qk42rt::protocol
