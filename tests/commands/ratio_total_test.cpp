#include <gtest/gtest.h>

#include <climits>

#include "command_case.h"

namespace qk42rt::commands {
namespace {

using testing::run_against;
using testing::Sent;

TEST(RatioTotal, WriteLaysOutChannelValueNibblesAndChannelPair) {
    struct Case {
        RatioTotal config;
        const char* request;
        const char* reply;
        bool ok;
    } cases[] = {
        {{2, 0xA5, 3, 4}, "8A 01 0A 05 23", "0A", true},
        {{1, 300, 1, 1}, "8A 00 02 0C 00", "0A", true},
        {{9, -1, 0, 8}, "8A 00 0F 0F 77", "0A", true},
        {{INT_MIN, INT_MAX, INT_MIN, INT_MAX}, "8A 07 0F 0F 76", "0A", true},
        {{2, 0xA5, 3, 4}, "8A 01 0A 05 23", "8A", false},
    };
    for (const auto& c : cases) {
        Sent sent;
        auto outcome = run_against(
            c.reply, [&](Line& l) { return set_ratio_total(l, 1, c.config); }, &sent);
        EXPECT_EQ(sent.request, c.request);
        EXPECT_EQ(outcome.ok(), c.ok) << c.request;
    }
}

TEST(RatioTotal, ReadTakesTheSameHalvesBack) {
    Sent sent;
    auto outcome = run_against(
        "01 A5 23", [](Line& l) { return read_ratio_total(l, 1); }, &sent);
    EXPECT_EQ(sent.request, "89");
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(outcome.value().channel, 2);
    EXPECT_EQ(outcome.value().value, 165);
    EXPECT_EQ(outcome.value().channel2, 3);
    EXPECT_EQ(outcome.value().channel3, 4);

    // Unused bits 7..3 of byte 0 and 7, 3 of byte 2 are ignored.
    auto masked = run_against(
        "FF FF FF", [](Line& l) { return read_ratio_total(l, 1); }, &sent);
    ASSERT_TRUE(masked.ok());
    EXPECT_EQ(masked.value().channel, 8);
    EXPECT_EQ(masked.value().value, 255);
    EXPECT_EQ(masked.value().channel2, 8);
    EXPECT_EQ(masked.value().channel3, 8);

    EXPECT_FALSE(run_against(
                     "01 A5", [](Line& l) { return read_ratio_total(l, 1); }, &sent)
                     .ok());
}

TEST(RatioTotal, ModeIsTheTruncatingRemainderOfThree) {
    const std::pair<int, const char*> cases[] = {{4, "8D 01"},       {3, "8D 00"},
                                                 {-1, "8D FF"},      {2, "8D 02"},
                                                 {INT_MIN, "8D FE"}, {INT_MAX, "8D 01"}};
    for (const auto& [mode, request] : cases) {
        Sent sent;
        auto outcome = run_against(
            "0D", [&, mode = mode](Line& l) { return control_ratio_total(l, 1, mode); }, &sent);
        EXPECT_EQ(sent.request, request) << mode;
        EXPECT_TRUE(outcome.ok()) << mode;
    }
}

}  // namespace
}  // namespace qk42rt::commands
