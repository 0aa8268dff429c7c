// Injected faults and what the library reports for each: the result, outputs left alone on
// failure, and the very next call succeeding.
#include <unistd.h>

#include <filesystem>

#include "sim_fixture.h"

namespace qk42rt::sim {
namespace {

struct FaultCase {
    const char* name;
    FaultKind kind;
    std::uint8_t code;
    int extra;
    std::function<int(Outputs&)> call;
    int result;                                  // what the library gives under the fault
    std::function<void(const Outputs&)> expect;  // outputs after a successful faulty call
    int success = 1;                             // the result of a good exchange
};

int read_flow(Outputs& o) {
    return QK42RT_ReadFlow(1, 1, &o.value, &o.a);
}
int read_setpoint(Outputs& o) {
    return QK42RT_ReadSetpoint(1, 1, &o.value, &o.a);
}
int read_maxflow(Outputs& o) {
    return QK42RT_ReadMaxflow(1, 1, &o.value, &o.a);
}
int read_intflow(Outputs& o) {
    return QK42RT_ReadIntflow(1, 1, &o.word);
}
int read_on_off(Outputs& o) {
    return QK42RT_ReadOnOff(1, &o.a);
}
int read_version(Outputs& o) {
    return QK42RT_ReadVersion(1, &o.value, &o.a, &o.b, &o.c);
}
int set_setpoint(Outputs&) {
    return QK42RT_SetSetpoint(1, 1, 1.0f);
}
int set_on_off(Outputs&) {
    return QK42RT_SetOnOff(1, 0x01);
}
int set_key_lock(Outputs&) {
    return QK42RT_SetKeyLock(1, 1);
}

const FaultCase kCases[] = {
    {"no_reply_to_a_reading", FaultKind::no_reply, 0x3, 1, read_flow, 0, {}},
    {"no_reply_to_set_on_off", FaultKind::no_reply, 0xC, 1, set_on_off, 0, {}},
    {"late_reply", FaultKind::late_reply, 0x4, 1, read_setpoint, 0, {}},
    {"split_reply_across_the_time_out", FaultKind::split_reply, 0x0, 1, read_version, 0, {}, 6},
    {"short_reading", FaultKind::short_reply, 0x5, 1, read_maxflow, 0, {}},
    {"short_integrated_flow", FaultKind::short_reply, 0x6, 1, read_intflow, 0, {}},
    {"short_key_lock_reply", FaultKind::short_reply, 0x0, 1, set_key_lock, 0, {}},
    {"wrong_ack_set_unit",
     FaultKind::wrong_ack,
     0x1,
     1,
     [](Outputs&) { return QK42RT_SetUnit(1, 1, 2); },
     0,
     {}},
    {"wrong_ack_set_setpoint", FaultKind::wrong_ack, 0xE, 1, set_setpoint, 0, {}},
    {"wrong_ack_set_maxflow",
     FaultKind::wrong_ack,
     0xF,
     1,
     [](Outputs&) { return QK42RT_SetMaxflow(1, 1, 50.0f, 1); },
     0,
     {}},
    {"wrong_ack_int_control",
     FaultKind::wrong_ack,
     0x8,
     1,
     [](Outputs&) { return QK42RT_IntControl(1, 3); },
     0,
     {}},
    {"wrong_ack_set_ratio_total",
     FaultKind::wrong_ack,
     0xA,
     1,
     [](Outputs&) { return QK42RT_SetRatioTotal(1, 1, 2, 3, 4); },
     0,
     {}},
    {"wrong_ack_control_ratio_total",
     FaultKind::wrong_ack,
     0xD,
     1,
     [](Outputs&) { return QK42RT_ControlRatioTotal(1, 1); },
     0,
     {}},
    // Set on/off takes any one byte as its reply.
    {"wrong_ack_set_on_off_still_succeeds", FaultKind::wrong_ack, 0xC, 1, set_on_off, 1, {}},
    // A surplus byte is not read by this exchange and purged by the next.
    {"surplus_after_a_reading", FaultKind::surplus_bytes, 0xB, 3, read_on_off, 1,
     [](const Outputs& o) { EXPECT_EQ(o.a, 0); }},
    {"surplus_after_an_ack", FaultKind::surplus_bytes, 0xE, 1, set_setpoint, 1, {}},
    // Noise before a reply shifts it: the data check counts only the first bytes.
    {"garbage_before_on_off_is_taken_as_the_state", FaultKind::garbage_before, 0xB, 1, read_on_off,
     1, [](const Outputs& o) { EXPECT_EQ(o.a, 0x2A); }},
    {"garbage_before_a_reading_shifts_it", FaultKind::garbage_before, 0x3, 1, read_flow, 1,
     [](const Outputs& o) {
         EXPECT_EQ(o.a, 0x2A & 0x07) << "the noise byte is taken as the status byte";
         EXPECT_EQ(o.value, -1.0f) << "0x2A has bit 3 set, so the flow reads -1.0";
     }},
    {"garbage_before_an_ack", FaultKind::garbage_before, 0xE, 1, set_setpoint, 0, {}},
};

class LibraryUnderFault : public SimulatedLine, public ::testing::WithParamInterface<FaultCase> {
  protected:
    void SetUp() override { start(); }
};

TEST_P(LibraryUnderFault, ReportsItAndRecovers) {
    const FaultCase& c = GetParam();
    FaultRule rule = fault(c.kind, c.code);
    rule.delay_ms = 800;  // well past the library's 500 ms, even on a loaded machine
    rule.extra = c.extra;
    sim->add_fault(rule);
    const Outputs untouched;
    Outputs outputs;
    EXPECT_EQ(c.call(outputs), c.result);
    if (c.result == 0) {
        EXPECT_EQ(outputs, untouched);
    } else if (c.expect) {
        c.expect(outputs);
    }
    EXPECT_EQ(sim->counters().faults, 1u);

    // A late or split reply lands after the time-out; the next exchange clears it away.
    if (c.kind == FaultKind::late_reply || c.kind == FaultKind::split_reply) {
        ASSERT_TRUE(eventually([&] { return sim->counters().replies == 1; }));
    }
    Outputs next;
    EXPECT_EQ(c.call(next), c.success);
    if (c.expect && c.kind != FaultKind::garbage_before) c.expect(next);
}

INSTANTIATE_TEST_SUITE_P(Faults, LibraryUnderFault, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimulatedLine, NextCallAfterGarbageReadsTheTrueValue) {
    start();
    sim->update(1, [](InstrumentState& s) { s.on_off = 0x11; });
    sim->add_fault(fault(FaultKind::garbage_before, 0xB));
    int state = 0;
    ASSERT_EQ(QK42RT_ReadOnOff(1, &state), 1);
    EXPECT_EQ(state, 0x2A);
    ASSERT_EQ(QK42RT_ReadOnOff(1, &state), 1);
    EXPECT_EQ(state, 0x11);
}

TEST_F(SimulatedLine, HangUpMovesTheLineAndTheLink) {
    const std::string link = ::testing::TempDir() + "qk42rt-sim-link-" + std::to_string(getpid());
    start(test_options([&](Options& o) { o.link_path = link; }));
    const std::string first = sim->slave_path();
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), first);

    sim->add_fault(fault(FaultKind::hang_up, 0x3));
    float flow = -7.0f;
    int status = -7;
    EXPECT_EQ(QK42RT_ReadFlow(1, 1, &flow, &status), 0);
    EXPECT_EQ(flow, -7.0f);
    EXPECT_EQ(status, -7);
    EXPECT_EQ(QK42RT_ReadFlow(1, 1, &flow, &status), 0) << "the old line stays dead";

    ASSERT_NE(sim->slave_path(), first);
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim->slave_path());
    testing::map_port(testing::kTestPort, link);
    ASSERT_EQ(QK42RT_InitPort(testing::kTestPort), 1);
    EXPECT_EQ(QK42RT_ReadFlow(1, 1, &flow, &status), 1);
    EXPECT_EQ(flow, 0.0f);

    QK42RT_ClosePort();
    sim.reset();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)))
        << "the link goes with the simulator";
}

}  // namespace
}  // namespace qk42rt::sim
