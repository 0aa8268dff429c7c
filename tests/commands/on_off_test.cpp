#include <gtest/gtest.h>

#include "command_case.h"

namespace qk42rt::commands {
namespace {

using testing::run_against;
using testing::Sent;

TEST(OnOff, SetAcceptsAnyOneByteReply) {
    const std::tuple<int, const char*, const char*, bool> cases[] = {
        {0x5A, "8C 05 0A", "0C", true},  {0x5A, "8C 05 0A", "99", true},
        {0x1FF, "8C 0F 0F", "00", true}, {0x5A, "8C 05 0A", "", false},
        {-1, "8C 0F 0F", "0C", true},
    };
    for (const auto& [state, request, reply, ok] : cases) {
        Sent sent;
        auto outcome = run_against(
            reply, [&, state = state](Line& l) { return set_on_off(l, 1, state); }, &sent);
        EXPECT_EQ(sent.request, request) << state;
        EXPECT_EQ(outcome.ok(), ok) << state << " reply " << reply;
    }
}

TEST(OnOff, ReadDeliversTheWholeByte) {
    Sent sent;
    auto outcome = run_against(
        "FF", [](Line& l) { return read_on_off(l, 4); }, &sent);
    EXPECT_EQ(sent.request, "BB");
    ASSERT_TRUE(outcome.ok());
    EXPECT_EQ(outcome.value(), 255);
    EXPECT_FALSE(run_against(
                     "", [](Line& l) { return read_on_off(l, 1); }, &sent)
                     .ok());
}

}  // namespace
}  // namespace qk42rt::commands
