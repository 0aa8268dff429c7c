// The library's exported functions against the simulated instrument, on every kind of line
// (pseudo-terminal, raw TCP, ser2net raw and RFC 2217): every operation, values written and
// read back, bytes of 0xFF in replies; and several instruments on one line.
#include <bit>
#include <cstring>

#include "sim_fixture.h"

namespace qk42rt::sim {
namespace {

class LibraryAgainstSim : public SimulatedLine, public ::testing::WithParamInterface<LineKind> {
  protected:
    void SetUp() override { start(test_options(), GetParam()); }
};

struct RoundTrip {
    const char* name;
    std::function<int()> write;
    std::function<void(Simulator&)> check;  // reads back through the library or the state
};

TEST_P(LibraryAgainstSim, WritesReadBack) {
    const RoundTrip trips[] = {
        {"unit", [] { return QK42RT_SetUnit(1, 3, 4); },
         [](Simulator&) {
             int unit = 0;
             ASSERT_EQ(QK42RT_ReadUnit(1, 3, &unit), 1);
             EXPECT_EQ(unit, 4);
         }},
        {"setpoint", [] { return QK42RT_SetSetpoint(1, 2, 42.5f); },
         [](Simulator&) {
             float setpoint = 0;
             int status = -1;
             ASSERT_EQ(QK42RT_ReadSetpoint(1, 2, &setpoint, &status), 1);
             EXPECT_EQ(setpoint, 42.5f);
             EXPECT_EQ(status, 0);
         }},
        {"maxflow", [] { return QK42RT_SetMaxflow(1, 8, 250.0f, 3); },
         [](Simulator& sim) {
             float maxflow = 0;
             int status = -1;
             ASSERT_EQ(QK42RT_ReadMaxflow(1, 8, &maxflow, &status), 1);
             EXPECT_EQ(maxflow, 250.0f);
             EXPECT_EQ(sim.state(1).channels[7].maxflow_code, 3);
         }},
        {"on_off", [] { return QK42RT_SetOnOff(1, 0xA5); },
         [](Simulator&) {
             int state = 0;
             ASSERT_EQ(QK42RT_ReadOnOff(1, &state), 1);
             EXPECT_EQ(state, 0xA5);
         }},
        {"ratio_total", [] { return QK42RT_SetRatioTotal(1, 2, 0xA5, 3, 4); },
         [](Simulator&) {
             int channel = 0, value = 0, channel2 = 0, channel3 = 0;
             ASSERT_EQ(QK42RT_ReadRatioTotal(1, &channel, &value, &channel2, &channel3), 1);
             EXPECT_EQ(channel, 2);
             EXPECT_EQ(value, 165);
             EXPECT_EQ(channel2, 3);
             EXPECT_EQ(channel3, 4);
         }},
        {"ratio_total_mode", [] { return QK42RT_ControlRatioTotal(1, 4); },
         [](Simulator& sim) { EXPECT_EQ(sim.state(1).ratio_mode, 1); }},
        {"display", [] { return QK42RT_SetDisplay(1, 1, 0); },
         [](Simulator& sim) {
             EXPECT_TRUE(sim.state(1).display_flag1);
             EXPECT_FALSE(sim.state(1).display_flag2);
         }},
        {"key_lock", [] { return QK42RT_SetKeyLock(1, 1); },
         [](Simulator& sim) { EXPECT_TRUE(sim.state(1).key_locked); }},
        {"flow_follows_setpoint_when_on",
         [] { return QK42RT_SetOnOff(1, 0x01) & QK42RT_SetSetpoint(1, 1, 12.5f); },
         [](Simulator&) {
             float flow = 0;
             int status = -1;
             ASSERT_EQ(QK42RT_ReadFlow(1, 1, &flow, &status), 1);
             EXPECT_EQ(flow, 12.5f);
         }},
        {"integration_runs_between_start_and_stop",
         [] {
             const int started = QK42RT_IntControl(1, 0x01);
             std::this_thread::sleep_for(std::chrono::milliseconds(100));
             return started & QK42RT_IntControl(1, 0x02);
         },
         [](Simulator&) {
             std::uint32_t inttime = 0, intflow = 0;
             ASSERT_EQ(QK42RT_ReadInttime(1, &inttime), 1);
             ASSERT_EQ(QK42RT_ReadIntflow(1, 1, &intflow), 1);
             EXPECT_GE(inttime, 100u);
             EXPECT_LT(inttime, 2000u);
             EXPECT_GT(intflow, 0u) << "channel 1 runs at 12.5";
         }},
    };
    for (const RoundTrip& trip : trips) {
        SCOPED_TRACE(trip.name);
        ASSERT_EQ(trip.write(), 1);
        trip.check(*sim);
    }
}

TEST_P(LibraryAgainstSim, ReadsWhatTheInstrumentHolds) {
    sim->update(1, [](InstrumentState& s) {
        s.on_off = 0x04;
        s.channels[2].setpoint = 7.25f;
        s.channels[2].status = 0x05;
        s.channels[3].status = 0x0B;  // bit 3: the flow reads -1.0
        s.kind = 'M';
        s.info1 = 3;
    });
    float value = 0;
    int status = 0;
    ASSERT_EQ(QK42RT_ReadFlow(1, 3, &value, &status), 1);
    EXPECT_EQ(value, 7.25f);
    EXPECT_EQ(status, 5);
    ASSERT_EQ(QK42RT_ReadFlow(1, 4, &value, &status), 1);
    EXPECT_EQ(value, -1.0f);
    EXPECT_EQ(status, 3);

    float version = 0;
    int kind = -1, info1 = -1, info2 = -1;
    ASSERT_EQ(QK42RT_ReadVersion(1, &version, &kind, &info1, &info2), 6);
    EXPECT_EQ(version, 1.2f);
    EXPECT_EQ(kind, 0);
    EXPECT_EQ(info1, 3);
    EXPECT_EQ(info2, 1);
}

TEST_P(LibraryAgainstSim, IntegratedCountersArriveLeastSignificantFirst) {
    sim->update(1, [](InstrumentState& s) {
        s.inttime = 0x04030201;
        s.channels[5].intflow = 0xA0B0C0D0;
    });
    unsigned char inttime[4] = {}, intflow[4] = {};
    ASSERT_EQ(QK42RT_ReadInttime(1, inttime), 1);
    ASSERT_EQ(QK42RT_ReadIntflow(1, 6, intflow), 1);
    EXPECT_EQ(std::memcmp(inttime, "\x01\x02\x03\x04", 4), 0);
    EXPECT_EQ(std::memcmp(intflow, "\xD0\xC0\xB0\xA0", 4), 0);
}

TEST_P(LibraryAgainstSim, ControlCodeWithBitSevenLooksLikeAHeaderAndGetsNoReply) {
    // 88 85: the instrument frames on bit 7, so 85 starts a new request.
    EXPECT_EQ(QK42RT_IntControl(1, 0x85), 0);
    EXPECT_EQ(QK42RT_IntControl(1, 0x01), 1);
    EXPECT_TRUE(sim->state(1).integrating);
}

// 0xFF is the Telnet escape byte: on an RFC 2217 line it travels doubled, and must arrive as
// one byte of the value.
TEST_P(LibraryAgainstSim, BytesOf0xFFInRepliesArriveExactly) {
    const float all_ones_mantissa = std::bit_cast<float>(0x3F7FFFFFu);  // FF FF 7F 3F
    sim->update(1, [&](InstrumentState& s) {
        s.channels[0].maxflow = all_ones_mantissa;
        s.channels[1].intflow = 0xFFFFFF00;
        s.on_off = 0xFF;
        s.ratio_value = 0xFF;
        s.info2 = 0xFF;
    });
    float maxflow = 0;
    int status = -1;
    ASSERT_EQ(QK42RT_ReadMaxflow(1, 1, &maxflow, &status), 1);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(maxflow), 0x3F7FFFFFu);
    unsigned char intflow[4] = {};
    ASSERT_EQ(QK42RT_ReadIntflow(1, 2, intflow), 1);
    EXPECT_EQ(std::memcmp(intflow, "\x00\xFF\xFF\xFF", 4), 0);
    int state = 0, channel = 0, value = 0, channel2 = 0, channel3 = 0;
    ASSERT_EQ(QK42RT_ReadOnOff(1, &state), 1);
    EXPECT_EQ(state, 0xFF);
    ASSERT_EQ(QK42RT_ReadRatioTotal(1, &channel, &value, &channel2, &channel3), 1);
    EXPECT_EQ(value, 0xFF);
    float version = 0;
    int kind = -1, info1 = -1, info2 = -1;
    ASSERT_EQ(QK42RT_ReadVersion(1, &version, &kind, &info1, &info2), 6);
    EXPECT_EQ(info2, 0xFF);
    // A value whose packed request bytes would otherwise be escaped reads back unchanged too.
    ASSERT_EQ(QK42RT_SetSetpoint(1, 3, all_ones_mantissa), 1);
    float setpoint = 0;
    ASSERT_EQ(QK42RT_ReadSetpoint(1, 3, &setpoint, &status), 1);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(setpoint), 0x3F7FFFFFu);
}

INSTANTIATE_TEST_SUITE_P(EveryLine, LibraryAgainstSim,
                         ::testing::Values(LineKind::pty, LineKind::tcp, LineKind::ser2net_raw,
                                           LineKind::ser2net_rfc2217),
                         [](const ::testing::TestParamInfo<LineKind>& info) {
                             return name_of(info.param);
                         });

class MultiDrop : public SimulatedLine {
  protected:
    void SetUp() override {
        start(test_options([](Options& o) { o.addresses = {1, 2}; }));
    }
};

TEST_F(MultiDrop, EachAddressKeepsItsOwnStateAndOthersStaySilent) {
    ASSERT_EQ(QK42RT_SetSetpoint(1, 1, 1.5f), 1);
    ASSERT_EQ(QK42RT_SetSetpoint(2, 1, 2.5f), 1);
    ASSERT_EQ(QK42RT_SetOnOff(2, 0x03), 1);
    float setpoint = 0;
    int status = 0, state = -1;
    ASSERT_EQ(QK42RT_ReadSetpoint(1, 1, &setpoint, &status), 1);
    EXPECT_EQ(setpoint, 1.5f);
    ASSERT_EQ(QK42RT_ReadSetpoint(2, 1, &setpoint, &status), 1);
    EXPECT_EQ(setpoint, 2.5f);
    ASSERT_EQ(QK42RT_ReadOnOff(1, &state), 1);
    EXPECT_EQ(state, 0);

    setpoint = -7.0f;
    status = -7;
    EXPECT_EQ(QK42RT_ReadSetpoint(3, 1, &setpoint, &status), 0);
    EXPECT_EQ(setpoint, -7.0f);
    EXPECT_EQ(status, -7);
    EXPECT_EQ(sim->counters().requests, 7u) << "the silent request was still framed";
    EXPECT_EQ(sim->counters().replies, 6u);
    EXPECT_THROW(sim->state(3), std::out_of_range);
}

}  // namespace
}  // namespace qk42rt::sim
