// Faults on bytes: what each makes of a reply, which requests they hit, and their syntax.
#include "faults.h"

#include <gtest/gtest.h>

#include <vector>

namespace qk42rt::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct PlanCase {
    const char* name;
    FaultKind kind;
    Bytes reply;
    std::vector<ReplyStep> steps;
};

class Plans : public ::testing::TestWithParam<PlanCase> {};

TEST_P(Plans, ChangeTheReply) {
    const PlanCase& c = GetParam();
    FaultRule rule;
    rule.kind = c.kind;
    rule.delay_ms = 700;
    rule.extra = 2;
    const ReplyPlan plan = plan_reply(c.reply, &rule);
    ASSERT_EQ(plan.steps.size(), c.steps.size());
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        EXPECT_EQ(plan.steps[i].delay_ms, c.steps[i].delay_ms) << i;
        EXPECT_EQ(plan.steps[i].bytes, c.steps[i].bytes) << i;
    }
    EXPECT_EQ(plan.hang_up, c.kind == FaultKind::hang_up);
}

const Bytes kReading{0x02, 0x00, 0x00, 0xC8, 0x42};

INSTANTIATE_TEST_SUITE_P(
    Kinds, Plans,
    ::testing::Values(
        PlanCase{"no_reply", FaultKind::no_reply, kReading, {}},
        PlanCase{"late", FaultKind::late_reply, kReading, {{700, kReading}}},
        PlanCase{"split",
                 FaultKind::split_reply,
                 kReading,
                 {{0, {0x02, 0x00}}, {700, {0x00, 0xC8, 0x42}}}},
        PlanCase{"short", FaultKind::short_reply, kReading, {{0, {0x02, 0x00, 0x00, 0xC8}}}},
        PlanCase{"short_ack_is_nothing", FaultKind::short_reply, {0x0E}, {{0, {}}}},
        PlanCase{"surplus", FaultKind::surplus_bytes, {0x0E}, {{0, {0x0E, 0x55, 0x55}}}},
        PlanCase{"wrong_ack", FaultKind::wrong_ack, {0x0E}, {{0, {0x4E}}}},
        PlanCase{"garbage", FaultKind::garbage_before, {0x0E}, {{0, {0x2A, 0x2A, 0x0E}}}},
        PlanCase{"hang_up", FaultKind::hang_up, kReading, {}}),
    [](const auto& info) { return std::string(info.param.name); });

FaultRule rule(FaultKind kind, std::optional<std::uint8_t> code, int count) {
    FaultRule r;
    r.kind = kind;
    r.code = code;
    r.count = count;
    return r;
}

TEST(FaultBook, CountsOnlyMatchingCodes) {
    FaultBook book;
    book.add(rule(FaultKind::no_reply, 0x3, 2));
    EXPECT_FALSE(book.draw(0x4));
    EXPECT_TRUE(book.draw(0x3));
    EXPECT_TRUE(book.draw(0x3));
    EXPECT_FALSE(book.draw(0x3)) << "used up";
}

TEST(FaultBook, ProbabilityFollowsTheSeed) {
    const auto hits = [](std::uint32_t seed) {
        FaultBook book;
        FaultRule sometimes = rule(FaultKind::no_reply, std::nullopt, -1);
        sometimes.probability = 0.3;
        sometimes.seed = seed;
        book.add(sometimes);
        std::vector<bool> pattern;
        for (int i = 0; i < 1000; ++i) pattern.push_back(book.draw(0x3).has_value());
        return pattern;
    };
    const auto a = hits(5);
    EXPECT_EQ(a, hits(5));
    EXPECT_NE(a, hits(6));
    const auto count = std::count(a.begin(), a.end(), true);
    EXPECT_GT(count, 240);
    EXPECT_LT(count, 360);
}

TEST(FaultBook, FirstFiringRuleWins) {
    FaultBook book;
    book.add(rule(FaultKind::wrong_ack, 0xE, 1));
    book.add(rule(FaultKind::no_reply, std::nullopt, -1));
    EXPECT_EQ(book.draw(0xE)->kind, FaultKind::wrong_ack);
    EXPECT_EQ(book.draw(0xE)->kind, FaultKind::no_reply);
}

TEST(FaultSyntax, ReadsKindAndKeys) {
    std::string error;
    const auto rule =
        parse_fault("late-reply:code=0xE,count=3,probability=0.5,seed=9,delay=750,extra=4", error);
    ASSERT_TRUE(rule) << error;
    EXPECT_EQ(rule->kind, FaultKind::late_reply);
    EXPECT_EQ(rule->code, 0xE);
    EXPECT_EQ(rule->count, 3);
    EXPECT_DOUBLE_EQ(rule->probability, 0.5);
    EXPECT_EQ(rule->seed, 9u);
    EXPECT_EQ(rule->delay_ms, 750);
    EXPECT_EQ(rule->extra, 4);

    const auto bare = parse_fault("hang-up", error);
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->kind, FaultKind::hang_up);
    EXPECT_FALSE(bare->code);
    EXPECT_EQ(parse_fault("no-reply:code=14", error)->code, 14);
}

TEST(FaultSyntax, RefusesWithAReason) {
    for (const char* text :
         {"slow", "no-reply:code=16", "no-reply:code=0xZ", "no-reply:count", "garbage:extra=-1",
          "late-reply:probability=1.5", "surplus:colour=3", "no-reply:count=2x"}) {
        std::string error;
        EXPECT_FALSE(parse_fault(text, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

}  // namespace
}  // namespace qk42rt::sim
