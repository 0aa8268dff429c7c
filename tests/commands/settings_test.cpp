#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "command_case.h"

namespace qk42rt::commands {
namespace {

using testing::run_against;
using testing::Sent;

struct WriteCase {
    const char* name;
    std::function<Outcome<Done>(Line&)> write;
    const char* request;
    const char* reply;
    bool ok;
};

TEST(ChannelSettings, RequestsAndAcknowledgements) {
    const WriteCase cases[] = {
        {"setpoint 1.0", [](Line& l) { return set_setpoint(l, 1, 1, 1.0f); },
         "8E 00 04 00 00 00 3F", "0E", true},
        {"setpoint header echoed", [](Line& l) { return set_setpoint(l, 1, 1, 1.0f); },
         "8E 00 04 00 00 00 3F", "8E", false},
        {"setpoint other ack", [](Line& l) { return set_setpoint(l, 1, 1, 1.0f); },
         "8E 00 04 00 00 00 3F", "1E", false},
        {"setpoint -1.0", [](Line& l) { return set_setpoint(l, 2, 3, -1.0f); },
         "9E 02 0C 00 00 00 3F", "1E", true},
        {"setpoint no reply", [](Line& l) { return set_setpoint(l, 2, 3, -1.0f); },
         "9E 02 0C 00 00 00 3F", "", false},
        {"maxflow code 2", [](Line& l) { return set_maxflow(l, 1, 2, 100.0f, 2); },
         "8F 01 04 00 00 48 42 02", "0F", true},
        {"maxflow code 7", [](Line& l) { return set_maxflow(l, 1, 2, 100.0f, 7); },
         "8F 01 04 00 00 48 42 02", "0F", true},
        {"maxflow code -1", [](Line& l) { return set_maxflow(l, 1, 2, 100.0f, -1); },
         "8F 01 04 00 00 48 42 FF", "0F", true},
        {"maxflow code INT_MIN", [](Line& l) { return set_maxflow(l, 1, 1, 0.5f, INT_MIN); },
         "8F 00 00 00 00 00 3F FD", "0F", true},
        {"unit 3", [](Line& l) { return set_unit(l, 1, 1, 3); }, "81 00 02", "01", true},
        {"unit 5 is unit 1", [](Line& l) { return set_unit(l, 1, 1, 5); }, "81 00 00", "01", true},
        {"unit 0 is unit 4", [](Line& l) { return set_unit(l, 1, 1, 0); }, "81 00 03", "01", true},
        {"unit INT_MIN", [](Line& l) { return set_unit(l, 1, 1, INT_MIN); }, "81 00 03", "01",
         true},
        {"unit wrong ack", [](Line& l) { return set_unit(l, 1, 1, 2); }, "81 00 01", "02", false},
    };
    for (const auto& c : cases) {
        Sent sent;
        auto outcome = run_against(c.reply, c.write, &sent);
        EXPECT_EQ(sent.request, c.request) << c.name;
        EXPECT_EQ(outcome.ok(), c.ok) << c.name;
    }
}

TEST(ChannelSettings, WrongAcknowledgeNamesBothBytes) {
    Sent sent;
    auto outcome = run_against(
        "8E", [](Line& l) { return set_setpoint(l, 1, 1, 1.0f); }, &sent);
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().why, Failure::wrong_ack);
    EXPECT_EQ(outcome.error().got, 0x8E);
    EXPECT_EQ(outcome.error().wanted, 0x0E);
}

TEST(ReadUnit, IsTheWholeReplyBytePlusOne) {
    const std::pair<const char*, int> cases[] = {{"00", 1}, {"03", 4}, {"FF", 256}, {"7F", 128}};
    for (const auto& [reply, unit] : cases) {
        Sent sent;
        auto outcome = run_against(
            reply, [](Line& l) { return read_unit(l, 3, 2); }, &sent);
        EXPECT_EQ(sent.request, "A2 01");
        ASSERT_TRUE(outcome.ok()) << reply;
        EXPECT_EQ(outcome.value(), unit) << reply;
    }
    Sent sent;
    EXPECT_FALSE(run_against(
                     "", [](Line& l) { return read_unit(l, 1, 1); }, &sent)
                     .ok());
}

}  // namespace
}  // namespace qk42rt::commands
