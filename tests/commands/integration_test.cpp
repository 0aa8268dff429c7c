#include <gtest/gtest.h>

#include "command_case.h"

namespace qk42rt::commands {
namespace {

using testing::hex;
using testing::run_against;
using testing::Sent;

TEST(Integration, ReadingsHandOnTheFourBytesInArrivalOrder) {
    struct Case {
        const char* name;
        std::function<Outcome<FourBytes>(Line&)> read;
        const char* request;
        const char* reply;
        bool ok;
    } cases[] = {
        {"intflow", [](Line& l) { return read_intflow(l, 1, 4); }, "86 03", "01 82 C3 FF", true},
        {"inttime address 2", [](Line& l) { return read_inttime(l, 2); }, "97", "10 20 30 40",
         true},
        {"intflow 3 bytes", [](Line& l) { return read_intflow(l, 1, 1); }, "86 00", "01 02 03",
         false},
        {"inttime 3 bytes", [](Line& l) { return read_inttime(l, 1); }, "87", "01 02 03", false},
    };
    for (const auto& c : cases) {
        Sent sent;
        auto outcome = run_against(c.reply, c.read, &sent);
        EXPECT_EQ(sent.request, c.request) << c.name;
        ASSERT_EQ(outcome.ok(), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(hex(outcome.value()), c.reply) << c.name;
        }
    }
}

TEST(Integration, ControlByteGoesOutUnchecked) {
    const std::tuple<int, const char*, const char*, bool> cases[] = {
        {0x01, "88 01", "08", true}, {0x85, "88 85", "08", true},  {0x185, "88 85", "08", true},
        {-1, "88 FF", "08", true},   {0x01, "88 01", "88", false},
    };
    for (const auto& [control, request, reply, ok] : cases) {
        Sent sent;
        auto outcome = run_against(
            reply, [&, control = control](Line& l) { return int_control(l, 1, control); }, &sent);
        EXPECT_EQ(sent.request, request) << control;
        EXPECT_EQ(outcome.ok(), ok) << control;
    }
}

}  // namespace
}  // namespace qk42rt::commands
