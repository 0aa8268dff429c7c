// Every operation against every fault the line can show, through the C functions and the
// simulated instrument: the result the instrument's protocol gives, outputs untouched on
// failure, and the very next call succeeding with the true values. On a pseudo-terminal for
// every operation; over raw TCP for one operation of each reply check.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "sim_fixture.h"

namespace qk42rt::sim {
namespace {

enum class Judged { data, acknowledged, any_of_length };

struct Operation {
    const char* name;
    std::uint8_t code;
    Judged judged;
    int success;  // the result of a good exchange
    int (*call)(int address, Outputs& o);
};

const Operation kOperations[] = {
    {"ReadFlow", 0x3, Judged::data, 1,
     [](int ad, Outputs& o) { return QK42RT_ReadFlow(ad, 2, &o.value, &o.a); }},
    {"ReadSetpoint", 0x4, Judged::data, 1,
     [](int ad, Outputs& o) { return QK42RT_ReadSetpoint(ad, 2, &o.value, &o.a); }},
    {"ReadMaxflow", 0x5, Judged::data, 1,
     [](int ad, Outputs& o) { return QK42RT_ReadMaxflow(ad, 2, &o.value, &o.a); }},
    {"ReadUnit", 0x2, Judged::data, 1,
     [](int ad, Outputs& o) { return QK42RT_ReadUnit(ad, 2, &o.a); }},
    {"SetUnit", 0x1, Judged::acknowledged, 1,
     [](int ad, Outputs&) { return QK42RT_SetUnit(ad, 2, 3); }},
    {"SetSetpoint", 0xE, Judged::acknowledged, 1,
     [](int ad, Outputs&) { return QK42RT_SetSetpoint(ad, 2, 12.5f); }},
    {"SetMaxflow", 0xF, Judged::acknowledged, 1,
     [](int ad, Outputs&) { return QK42RT_SetMaxflow(ad, 2, 80.0f, 2); }},
    {"ReadIntflow", 0x6, Judged::data, 1,
     [](int ad, Outputs& o) { return QK42RT_ReadIntflow(ad, 2, &o.word); }},
    {"ReadInttime", 0x7, Judged::data, 1,
     [](int ad, Outputs& o) { return QK42RT_ReadInttime(ad, &o.word); }},
    {"IntControl", 0x8, Judged::acknowledged, 1,
     [](int ad, Outputs&) { return QK42RT_IntControl(ad, 0x02); }},
    {"ReadRatioTotal", 0x9, Judged::data, 1,
     [](int ad, Outputs& o) { return QK42RT_ReadRatioTotal(ad, &o.a, &o.b, &o.c, &o.d); }},
    {"SetRatioTotal", 0xA, Judged::acknowledged, 1,
     [](int ad, Outputs&) { return QK42RT_SetRatioTotal(ad, 2, 0xA5, 3, 4); }},
    {"ControlRatioTotal", 0xD, Judged::acknowledged, 1,
     [](int ad, Outputs&) { return QK42RT_ControlRatioTotal(ad, 1); }},
    {"ReadOnOff", 0xB, Judged::data, 1,
     [](int ad, Outputs& o) { return QK42RT_ReadOnOff(ad, &o.a); }},
    {"SetOnOff", 0xC, Judged::any_of_length, 1,
     [](int ad, Outputs&) { return QK42RT_SetOnOff(ad, 0x5A); }},
    {"ReadVersion", 0x0, Judged::data, 6,
     [](int ad, Outputs& o) { return QK42RT_ReadVersion(ad, &o.value, &o.a, &o.b, &o.c); }},
    {"SetDisplay", 0x0, Judged::any_of_length, 1,
     [](int ad, Outputs&) { return QK42RT_SetDisplay(ad, 1, 0); }},
    {"SetKeyLock", 0x0, Judged::any_of_length, 1,
     [](int ad, Outputs&) { return QK42RT_SetKeyLock(ad, 0); }},
};

enum class Line {
    no_reply,
    late_reply,
    split_across_time_out,
    short_reply,
    surplus_bytes,
    wrong_ack,
    garbage_before,
    silent_address,
    noise_between,
};

const char* name_of(Line line) {
    switch (line) {
        case Line::no_reply:
            return "no_reply";
        case Line::late_reply:
            return "late_reply";
        case Line::split_across_time_out:
            return "split_across_time_out";
        case Line::short_reply:
            return "short_reply";
        case Line::surplus_bytes:
            return "surplus_bytes";
        case Line::wrong_ack:
            return "wrong_ack";
        case Line::garbage_before:
            return "garbage_before";
        case Line::silent_address:
            return "silent_address";
        case Line::noise_between:
            return "noise_between";
    }
    return "?";
}

// What the call must give under the fault.
int expected_result(const Operation& op, Line line) {
    switch (line) {
        case Line::no_reply:
        case Line::late_reply:
        case Line::split_across_time_out:
        case Line::short_reply:
        case Line::silent_address:
            return 0;
        case Line::surplus_bytes:
        case Line::noise_between:
            return op.success;
        case Line::wrong_ack:
            return op.judged == Judged::acknowledged ? 0 : op.success;
        case Line::garbage_before:
            if (op.judged == Judged::acknowledged) return 0;
            // The version reply shifts by one byte, so its kind letter is a digit of the text.
            if (std::string(op.name) == "ReadVersion") return 0;
            return op.success;
    }
    return -1;
}

using Cell = std::tuple<Operation, Line, LineKind>;

class FaultMatrix : public SimulatedLine, public ::testing::WithParamInterface<Cell> {
  protected:
    void SetUp() override {
        start(test_options([](Options& o) { o.addresses = {1, 3}; }), std::get<2>(GetParam()));
    }
};

TEST_P(FaultMatrix, ResultOutputsAndTheNextCall) {
    const auto& [op, line, kind] = GetParam();
    Outputs truth;
    ASSERT_EQ(op.call(1, truth), op.success) << "a clean exchange first";

    int address = 1;
    FaultRule rule = fault(FaultKind::no_reply, op.code);
    rule.delay_ms = 700;  // late and split replies land well after the 500 ms limit
    switch (line) {
        case Line::no_reply:
            rule.kind = FaultKind::no_reply;
            break;
        case Line::late_reply:
            rule.kind = FaultKind::late_reply;
            break;
        case Line::split_across_time_out:
            rule.kind = FaultKind::split_reply;
            break;
        case Line::short_reply:
            rule.kind = FaultKind::short_reply;
            break;
        case Line::surplus_bytes:
            rule.kind = FaultKind::surplus_bytes;
            rule.extra = 3;
            break;
        case Line::wrong_ack:
            rule.kind = FaultKind::wrong_ack;
            break;
        case Line::garbage_before:
            rule.kind = FaultKind::garbage_before;
            break;
        case Line::silent_address:
            rule.count = 0;
            address = 2;
            break;  // nobody at 2
        case Line::noise_between:
            rule.count = 0;
            sim->send_noise({0x55, 0x0E, 0x00, 0x7F, 0x2A});
            break;
    }
    if (rule.count != 0) sim->add_fault(rule);
    if (line == Line::noise_between) std::this_thread::sleep_for(std::chrono::milliseconds(20));

    Outputs outputs;
    const Outputs untouched;
    const int result = op.call(address, outputs);
    EXPECT_EQ(result, expected_result(op, line));
    if (result == 0) {
        EXPECT_EQ(outputs, untouched) << "outputs written on failure";
    }
    if (line == Line::surplus_bytes || line == Line::noise_between) {
        EXPECT_EQ(outputs, truth) << "a good reply read amid extra bytes gives the true values";
    }

    // Whatever the fault left on the line, the next exchange clears it: wait until a late
    // reply has surely arrived, then the very next call gets the true values.
    if (line == Line::late_reply || line == Line::split_across_time_out) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    Outputs next;
    EXPECT_EQ(op.call(1, next), op.success);
    EXPECT_EQ(next, truth);
}

// Data, acknowledged and any-reply operations, and the six-byte version reply.
bool stands_for_its_check(const Operation& op) {
    for (const char* name : {"ReadFlow", "SetSetpoint", "SetOnOff", "ReadVersion", "ReadIntflow"}) {
        if (std::string(op.name) == name) return true;
    }
    return false;
}

std::vector<Cell> all_cells(LineKind kind) {
    std::vector<Cell> cells;
    for (const Operation& op : kOperations) {
        if (kind != LineKind::pty && !stands_for_its_check(op)) continue;
        for (int l = 0; l <= static_cast<int>(Line::noise_between); ++l) {
            cells.emplace_back(op, static_cast<Line>(l), kind);
        }
    }
    return cells;
}

std::string cell_name(const ::testing::TestParamInfo<Cell>& info) {
    return std::string(std::get<0>(info.param).name) + "_" + name_of(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, FaultMatrix, ::testing::ValuesIn(all_cells(LineKind::pty)),
                         cell_name);
INSTANTIATE_TEST_SUITE_P(OverTcp, FaultMatrix, ::testing::ValuesIn(all_cells(LineKind::tcp)),
                         cell_name);

}  // namespace
}  // namespace qk42rt::sim
