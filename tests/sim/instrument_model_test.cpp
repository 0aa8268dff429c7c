// The instrument's side of each request, on bytes: what it answers and what it remembers.
#include "instrument_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace qk42rt::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

const InstrumentModel::Clock::time_point kStart{};

struct WriteThenRead {
    const char* name;
    Bytes write;
    Bytes write_reply;
    Bytes read;
    Bytes read_reply;
};

class WritesReadBack : public ::testing::TestWithParam<WriteThenRead> {};

TEST_P(WritesReadBack, OnTheWire) {
    const WriteThenRead& c = GetParam();
    InstrumentModel model({}, kStart);
    EXPECT_EQ(model.answer(c.write, kStart), c.write_reply);
    EXPECT_EQ(model.answer(c.read, kStart), c.read_reply);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, WritesReadBack,
    ::testing::Values(
        WriteThenRead{"unit", {0x81, 0x02, 0x03}, {0x01}, {0x82, 0x02}, {0x03}},
        WriteThenRead{"setpoint",
                      {0x8E, 0x00, 0x04, 0x00, 0x00, 0x00, 0x3F},
                      {0x0E},
                      {0x84, 0x00},
                      {0x00, 0x00, 0x00, 0x80, 0x3F}},
        WriteThenRead{"negative_setpoint",
                      {0x9E, 0x02, 0x0C, 0x00, 0x00, 0x00, 0x3F},
                      {0x1E},
                      {0x94, 0x02},
                      {0x00, 0x00, 0x00, 0x80, 0xBF}},
        WriteThenRead{"maxflow",
                      {0x8F, 0x01, 0x04, 0x00, 0x00, 0x48, 0x42, 0x02},
                      {0x0F},
                      {0x85, 0x01},
                      {0x00, 0x00, 0x00, 0xC8, 0x42}},
        WriteThenRead{
            "ratio_total", {0x8A, 0x01, 0x0A, 0x05, 0x23}, {0x0A}, {0x89}, {0x01, 0xA5, 0x23}},
        WriteThenRead{"on_off", {0x8C, 0x05, 0x0A}, {0x0C}, {0x8B}, {0x5A}},
        WriteThenRead{"key_lock_echoed",
                      {0x80, 0x30},
                      {0x00, 0x30, 0x00, 0x01, 0x00},
                      {0x80, 0x06},
                      {0x00, 0x06, 0x02, 0x01, 0x00}},
        WriteThenRead{
            "channel_byte_keeps_three_bits", {0x81, 0x0F, 0x01}, {0x01}, {0x82, 0x07}, {0x01}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InstrumentModel, RemembersWhatTheProtocolCannotReadBack) {
    InstrumentModel model({}, kStart);
    model.answer(Bytes{0x8F, 0x01, 0x04, 0x00, 0x00, 0x48, 0x42, 0x03}, kStart);
    model.answer(Bytes{0x8D, 0x02}, kStart);
    model.answer(Bytes{0x80, 0x05}, kStart);
    EXPECT_EQ(model.state().channels[1].maxflow_code, 3);
    EXPECT_EQ(model.state().ratio_mode, 2);
    EXPECT_FALSE(model.state().display_flag1);
    EXPECT_TRUE(model.state().display_flag2);
}

TEST(InstrumentModel, VersionAndSilence) {
    InstrumentModel model({}, kStart);
    EXPECT_EQ(model.answer(Bytes{0xF0, 0x00}, kStart), (Bytes{0x31, 0x2E, 0x32, 0x43, 0x08, 0x01}));
    EXPECT_EQ(model.answer(Bytes{0x80, 0x01}, kStart), std::nullopt) << "unknown system sub-code";
    EXPECT_EQ(model.answer(Bytes{0x83}, kStart), std::nullopt) << "request too short";
}

TEST(InstrumentModel, ReadingCarriesStatusByteUnchanged) {
    InstrumentModel model({}, kStart);
    model.state().channels[0].status = 0x0B;
    model.state().channels[0].flow = 100.0f;
    EXPECT_EQ(model.answer(Bytes{0x83, 0x00}, kStart), (Bytes{0x0B, 0x00, 0x00, 0xC8, 0x42}));
}

float flow_after(InstrumentModel& model, std::chrono::milliseconds elapsed) {
    model.advance(kStart + elapsed);
    return model.state().channels[0].flow;
}

TEST(InstrumentModel, FlowFollowsSetpointOnlyWhileTheChannelIsOn) {
    InstrumentModel model({2.0, 0.0, 1}, kStart);
    model.state().channels[0].setpoint = 10.0f;
    EXPECT_FLOAT_EQ(flow_after(model, 1000ms), 0.0f) << "channel 1 off";
    model.state().on_off = 0x01;
    EXPECT_NEAR(flow_after(model, 3000ms), 10.0f * (1.0f - std::exp(-1.0f)), 1e-4);
    EXPECT_FLOAT_EQ(flow_after(model, 60000ms), 10.0f) << "settles on the setpoint exactly";
    model.state().on_off = 0x00;
    EXPECT_NEAR(flow_after(model, 62000ms), 10.0f * std::exp(-1.0f), 1e-4) << "closes toward 0";
}

std::uint32_t le32(const Bytes& bytes) {
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

TEST(InstrumentModel, IntegrationCountsWhileStarted) {
    InstrumentModel model({0.0, 0.0, 1}, kStart);
    model.state().on_off = 0x02;
    model.state().channels[1].setpoint = 10.0f;
    EXPECT_EQ(model.answer(Bytes{0x88, kIntegrationStart}, kStart), Bytes{0x08});
    const auto minute = kStart + 60s;
    EXPECT_EQ(le32(*model.answer(Bytes{0x86, 0x01}, minute)), 10000u) << "thousandths";
    EXPECT_EQ(le32(*model.answer(Bytes{0x87}, minute)), 60000u) << "milliseconds";

    EXPECT_EQ(model.answer(Bytes{0x88, kIntegrationStop}, minute), Bytes{0x08});
    EXPECT_EQ(le32(*model.answer(Bytes{0x87}, minute + 30s)), 60000u) << "stopped";
    EXPECT_EQ(model.answer(Bytes{0x88, 0x7F}, minute + 30s), Bytes{0x08}) << "unknown code";
    EXPECT_EQ(model.answer(Bytes{0x88, kIntegrationReset}, minute + 30s), Bytes{0x08});
    EXPECT_EQ(le32(*model.answer(Bytes{0x86, 0x01}, minute + 30s)), 0u);
    EXPECT_EQ(le32(*model.answer(Bytes{0x87}, minute + 30s)), 0u);
}

TEST(InstrumentModel, IntegrationFollowsTheFlowAsItRises) {
    InstrumentModel model({2.0, 0.0, 1}, kStart);
    model.state().on_off = 0x01;
    model.state().channels[0].setpoint = 10.0f;
    model.answer(Bytes{0x88, kIntegrationStart}, kStart);
    // 10 x (60 s - 2 s x (1 - e^-30)) in thousandths of a minute: the first 2 s of lag are lost.
    EXPECT_EQ(le32(*model.answer(Bytes{0x86, 0x00}, kStart + 60s)), 9666u);
}

TEST(InstrumentModel, NonFiniteSetpointDoesNotBreakIntegration) {
    InstrumentModel model({0.0, 0.0, 1}, kStart);
    model.state().on_off = 0x01;
    model.answer(Bytes{0x88, kIntegrationStart}, kStart);
    // 0x7FC00000: a quiet NaN, packed.
    model.answer(Bytes{0x8E, 0x00, 0x04, 0x00, 0x00, 0x40, 0x7F}, kStart);
    EXPECT_EQ(le32(*model.answer(Bytes{0x86, 0x00}, kStart + 10s)), 0u);
    EXPECT_EQ(le32(*model.answer(Bytes{0x87}, kStart + 10s)), 10000u);
}

TEST(InstrumentModel, NoiseIsSeededAndOnlyOnOpenChannels) {
    const ModelSettings noisy{0.0, 0.5, 7};
    InstrumentModel a(noisy, kStart), b(noisy, kStart);
    for (auto* m : {&a, &b}) m->state().channels[0].setpoint = 5.0f;
    EXPECT_EQ(a.answer(Bytes{0x83, 0x00}, kStart), (Bytes{0x00, 0x00, 0x00, 0x00, 0x00}));
    a.state().on_off = b.state().on_off = 0x01;
    const auto first = a.answer(Bytes{0x83, 0x00}, kStart + 1s);
    EXPECT_EQ(first, b.answer(Bytes{0x83, 0x00}, kStart + 1s));
    EXPECT_NE(first, a.answer(Bytes{0x83, 0x00}, kStart + 1s));
}

}  // namespace
}  // namespace qk42rt::sim
