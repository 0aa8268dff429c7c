// Every int argument at the edges of int, every float at its special values: the exact bytes
// two's-complement reduction gives, computed here independently in 64-bit arithmetic.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include "held_scripted_port.h"
#include "qk42rt.h"

namespace qk42rt::testing {
namespace {

const int kInts[] = {INT_MIN, INT_MAX, -1, 0, 9, 255, 256};
const float kFloats[] = {std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity(),
                         std::numeric_limits<float>::denorm_min(),
                         -0.0f,
                         FLT_MAX};

std::uint8_t b(long long v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}
std::uint8_t hdr(int address, int code) {
    return b(0x80 | ((((long long)address - 1) & 7) << 4) | code);
}
std::uint8_t ch(int channel) {
    return b(((long long)channel - 1) & 7);
}
std::uint8_t ack(int address, int code) {
    return b(hdr(address, code) & 0x7F);
}

Bytes packed(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, 4);
    Bytes out{0};
    for (int i = 0; i < 4; ++i) {
        const std::uint32_t byte = (bits >> (8 * i)) & 0xFF;
        if (byte >= 0x80) out[0] = b(out[0] | (1 << i));
        out.push_back(b(byte & 0x7F));
    }
    return out;
}

Bytes cat(Bytes a, const Bytes& rest) {
    a.insert(a.end(), rest.begin(), rest.end());
    return a;
}

class ExtremeArguments : public ::testing::Test {
  protected:
    // Scripts `reply`, runs `call`, and checks the request and the result.
    template <class Call>
    void expect(const Bytes& request, const Bytes& reply, int result, Call call) {
        held.port.script(reply);
        const std::size_t before = held.port.requests().size();
        EXPECT_EQ(call(), result) << hex(request);
        ASSERT_EQ(held.port.requests().size(), before + 1);
        EXPECT_EQ(hex(held.port.last_request()), hex(request));
    }
    HeldScriptedPort held;
};

TEST_F(ExtremeArguments, ChannelOperations) {
    float f = 0;
    int i = 0;
    unsigned char four[4];
    for (int a : kInts) {
        for (int c : kInts) {
            const Bytes reading{0x01, 0, 0, 0x80, 0x3F};
            expect({hdr(a, 3), ch(c)}, reading, 1, [&] { return QK42RT_ReadFlow(a, c, &f, &i); });
            expect({hdr(a, 4), ch(c)}, reading, 1,
                   [&] { return QK42RT_ReadSetpoint(a, c, &f, &i); });
            expect({hdr(a, 5), ch(c)}, reading, 1,
                   [&] { return QK42RT_ReadMaxflow(a, c, &f, &i); });
            expect({hdr(a, 2), ch(c)}, {0xFF}, 1, [&] { return QK42RT_ReadUnit(a, c, &i); });
            EXPECT_EQ(i, 256);
            expect({hdr(a, 6), ch(c)}, {1, 2, 3, 4}, 1,
                   [&] { return QK42RT_ReadIntflow(a, c, four); });
            for (int u : kInts) {
                expect({hdr(a, 1), ch(c), b(((long long)u - 1) & 3)}, {ack(a, 1)}, 1,
                       [&] { return QK42RT_SetUnit(a, c, u); });
            }
            for (float v : kFloats) {
                expect(cat({hdr(a, 0xE), ch(c)}, packed(v)), {ack(a, 0xE)}, 1,
                       [&] { return QK42RT_SetSetpoint(a, c, v); });
                for (int code : kInts) {
                    expect(cat(cat({hdr(a, 0xF), ch(c)}, packed(v)), {b((long long)code % 5)}),
                           {ack(a, 0xF)}, 1, [&] { return QK42RT_SetMaxflow(a, c, v, code); });
                }
            }
        }
    }
}

TEST_F(ExtremeArguments, InstrumentOperations) {
    float f = 0;
    int i = 0, j = 0, k = 0, l = 0;
    std::uint32_t word = 0;
    for (int a : kInts) {
        expect({hdr(a, 7)}, {1, 2, 3, 4}, 1, [&] { return QK42RT_ReadInttime(a, &word); });
        expect({hdr(a, 9)}, {0xFF, 0xFF, 0xFF}, 1,
               [&] { return QK42RT_ReadRatioTotal(a, &i, &j, &k, &l); });
        EXPECT_EQ(i + j + k + l, 8 + 255 + 8 + 8);
        expect({hdr(a, 0xB)}, {0x80}, 1, [&] { return QK42RT_ReadOnOff(a, &i); });
        expect({hdr(a, 0), 0x00}, {'1', '.', '2', 'M', 0, 0}, 6,
               [&] { return QK42RT_ReadVersion(a, &f, &i, &j, &k); });
        for (int v : kInts) {
            expect({hdr(a, 8), b(v)}, {ack(a, 8)}, 1, [&] { return QK42RT_IntControl(a, v); });
            expect({hdr(a, 0xD), b((long long)v % 3)}, {ack(a, 0xD)}, 1,
                   [&] { return QK42RT_ControlRatioTotal(a, v); });
            expect({hdr(a, 0xC), b(((long long)v >> 4) & 0xF), b(v & 0xF)}, {0x42}, 1,
                   [&] { return QK42RT_SetOnOff(a, v); });
            expect({hdr(a, 0), b(0x20 | (v != 0 ? 0x10 : 0))}, Bytes(5), 1,
                   [&] { return QK42RT_SetKeyLock(a, v); });
            for (int w : kInts) {
                expect({hdr(a, 0), b(0x04 | (v != 0 ? 2 : 0) | (w != 0 ? 1 : 0))}, Bytes(5), 1,
                       [&] { return QK42RT_SetDisplay(a, v, w); });
            }
        }
        for (int c : kInts) {
            for (int v : kInts) {
                for (int c2 : kInts) {
                    for (int c3 : kInts) {
                        const Bytes request{hdr(a, 0xA), ch(c), b(((long long)v >> 4) & 0xF),
                                            b(v & 0xF), b((ch(c2) << 4) | ch(c3))};
                        expect(request, {ack(a, 0xA)}, 1,
                               [&] { return QK42RT_SetRatioTotal(a, c, v, c2, c3); });
                    }
                }
            }
        }
    }
}

TEST_F(ExtremeArguments, SpecialFloatsComeBackBitForBit) {
    for (float v : kFloats) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &v, 4);
        const Bytes reply{0x00, b(bits), b(bits >> 8), b(bits >> 16), b(bits >> 24)};
        float got = 1.0f;
        int status = 9;
        expect({0x84, 0x00}, reply, 1, [&] { return QK42RT_ReadSetpoint(1, 1, &got, &status); });
        std::uint32_t got_bits = 0;
        std::memcpy(&got_bits, &got, 4);
        EXPECT_EQ(got_bits, bits);
    }
}

}  // namespace
}  // namespace qk42rt::testing
