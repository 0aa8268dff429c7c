#include <gtest/gtest.h>

#include <climits>

#include "command_case.h"

namespace qk42rt::commands {
namespace {

using testing::run_against;
using testing::Sent;

using ReadFn = Outcome<Reading> (*)(Line&, int, int);

struct ReadingCase {
    const char* name;
    ReadFn read;
    int address;
    int channel;
    const char* request;
    const char* reply;
    bool ok;
    float value;
    int status;
};

TEST(ChannelReadings, RequestAndDecodedReply) {
    const ReadingCase cases[] = {
        {"flow 1/1", read_flow, 1, 1, "83 00", "02 00 00 C8 42", true, 100.0f, 2},
        {"flow 3/5", read_flow, 3, 5, "A3 04", "00 00 00 80 3F", true, 1.0f, 0},
        {"flow invalid bit", read_flow, 1, 2, "83 01", "0B 12 34 56 78", true, -1.0f, 3},
        {"flow high nibble dropped", read_flow, 1, 1, "83 00", "F5 00 00 C8 42", true, 100.0f, 5},
        {"flow address 0 is 8", read_flow, 0, 9, "F3 00", "00 00 00 00 00", true, 0.0f, 0},
        {"setpoint ignores bit 3", read_setpoint, 2, 8, "94 07", "0F 00 00 C8 42", true, 100.0f, 7},
        {"maxflow ignores bit 3", read_maxflow, 8, 1, "F5 00", "08 00 00 80 BF", true, -1.0f, 0},
        {"maxflow bits 7 kept", read_maxflow, 1, 1, "85 00", "00 FF FF 7F 7F", true, 3.40282347e38f,
         0},
        {"flow four bytes fail", read_flow, 1, 1, "83 00", "02 00 00 C8", false, 0, 0},
        {"setpoint nothing", read_setpoint, 1, 1, "84 00", "", false, 0, 0},
        {"extreme ints", read_flow, INT_MIN, INT_MAX, "F3 06", "01 00 00 00 00", true, 0.0f, 1},
    };
    for (const auto& c : cases) {
        Sent sent;
        auto outcome = run_against(
            c.reply, [&](Line& line) { return c.read(line, c.address, c.channel); }, &sent);
        EXPECT_EQ(sent.request, c.request) << c.name;
        ASSERT_EQ(outcome.ok(), c.ok) << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(outcome.value().value, c.value) << c.name;
        EXPECT_EQ(outcome.value().status, c.status) << c.name;
    }
}

TEST(ChannelReadings, ShortReplySaysHowManyOfHowMany) {
    Sent sent;
    auto outcome = run_against(
        "02 00 00", [](Line& line) { return read_flow(line, 1, 1); }, &sent);
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().why, Failure::short_reply);
    EXPECT_EQ(outcome.error().received, 3u);
    EXPECT_EQ(outcome.error().expected, 5u);
}

}  // namespace
}  // namespace qk42rt::commands
