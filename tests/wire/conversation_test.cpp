// The listener's reading of a conversation, fed with bytes at chosen times: exchanges cut as
// the host and the instrument made them, and every kind of trouble named.
#include "conversation.h"

#include <gtest/gtest.h>

#include "recording.h"
#include "sniff_report.h"

namespace qk42rt::wire {
namespace {

using std::chrono::milliseconds;

struct Step {
    bool host;
    int at_ms;
    const char* bytes;
};

struct Expect {
    const char* request;  // "" for stray bytes
    const char* reply;    // the stray bytes themselves for a stray run
    const char* surplus;
    std::vector<Trouble> troubles;
};

struct Case {
    const char* what;
    std::vector<Step> steps;
    std::vector<Expect> seen;
};

Bytes bytes_of(const char* text) {
    std::string error;
    return parse_hex(text, error).value();
}

std::vector<Seen> play(const std::vector<Step>& steps, int end_ms) {
    std::vector<Seen> seen;
    Conversation conversation([&](Seen s) {
        judge(s);
        seen.push_back(s);
    });
    const Clock::time_point start{};
    for (const Step& step : steps) {
        const auto at = start + milliseconds(step.at_ms);
        conversation.tick(at);
        const Bytes bytes = bytes_of(step.bytes);
        if (step.host) {
            conversation.from_host(bytes, at);
        } else {
            conversation.from_device(bytes, at);
        }
    }
    for (int t = steps.empty() ? 0 : steps.back().at_ms; t <= end_ms; t += 10) {
        conversation.tick(start + milliseconds(t));
    }
    conversation.finish(start + milliseconds(end_ms));
    return seen;
}

TEST(Conversation, CutsExchangesAndNamesTrouble) {
    using T = Trouble;
    const Case cases[] = {
        {"one exchange in pieces",
         {{true, 0, "83"}, {true, 1, "01"}, {false, 3, "00 00"}, {false, 4, "00 20 41"}},
         {{"83 01", "00 00 00 20 41", "", {}}}},
        {"no reply within 500 ms", {{true, 0, "83 01"}}, {{"83 01", "", "", {T::no_reply}}}},
        {"short reply",
         {{true, 0, "83 01"}, {false, 2, "00 00"}},
         {{"83 01", "00 00", "", {T::short_reply}}}},
        {"wrong acknowledge",
         {{true, 0, "8E 00 04 00 00 00 3F"}, {false, 2, "4E"}},
         {{"8E 00 04 00 00 00 3F", "4E", "", {T::wrong_ack}}}},
        {"kind letter",
         {{true, 0, "80 00"}, {false, 2, "31 2E 32 58 08 01"}},
         {{"80 00", "31 2E 32 58 08 01", "", {T::unknown_kind}}}},
        {"noise before the reply shifts it",
         {{true, 0, "82 00"}, {false, 2, "2A 02"}},
         {{"82 00", "2A", "02", {T::stray_bytes}}}},
        {"a late reply between requests",
         {{true, 0, "83 01"},
          {false, 600, "00 00 00 20 41"},
          {true, 900, "8B"},
          {false, 901, "5A"}},
         {{"83 01", "", "", {T::no_reply}},
          {"", "00 00 00 20 41", "", {T::late_reply}},
          {"8B", "5A", "", {}}}},
        {"a late reply the host takes for the next one",
         {{true, 0, "83 00"}, {true, 501, "83 01"}, {false, 600, "00 00 00 20 41 00 00 00 A0 40"}},
         {{"83 00", "", "", {T::no_reply}},
          {"83 01", "00 00 00 20 41", "00 00 00 A0 40", {T::late_reply}}}},
        {"bytes after a whole reply and a quiet spell belong to no exchange",
         {{true, 0, "8B"}, {false, 1, "5A"}, {false, 100, "55"}},
         {{"8B", "5A", "", {}}, {"", "55", "", {T::stray_bytes}}}},
        {"host noise and a request cut short",
         {{true, 0, "11 8E 00"}, {true, 5, "83 00"}, {false, 6, "00 00 00 00 00"}},
         {{"", "11 8E 00", "", {T::stray_bytes}}, {"83 00", "00 00 00 00 00", "", {}}}},
        {"bit 7 data where the library sends it stays in the request",
         {{true, 0, "88 85"}, {false, 2, "08"}},
         {{"88 85", "08", "", {}}}},
        {"a request the library never sends",
         {{true, 0, "80 08"}, {false, 2, "00"}},
         {{"80 08", "", "00", {T::bad_request, T::stray_bytes}}}},
        {"the next request ends an exchange before its time-out",
         {{true, 0, "83 01"}, {false, 1, "00 00"}, {true, 100, "8B"}, {false, 101, "01"}},
         {{"83 01", "00 00", "", {T::short_reply}}, {"8B", "01", "", {}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<Seen> seen = play(c.steps, 2000);
        ASSERT_EQ(seen.size(), c.seen.size());
        for (std::size_t i = 0; i < seen.size(); ++i) {
            SCOPED_TRACE(i);
            const Expect& e = c.seen[i];
            EXPECT_EQ(seen[i].stray, std::string(e.request).empty());
            if (seen[i].stray) {
                EXPECT_EQ(seen[i].bytes, bytes_of(e.reply));
            } else {
                EXPECT_EQ(seen[i].request, bytes_of(e.request));
                EXPECT_EQ(seen[i].reply, bytes_of(e.reply));
                EXPECT_EQ(seen[i].surplus, bytes_of(e.surplus));
            }
            std::vector<Trouble> troubles;
            for (const Flag& flag : seen[i].flags) troubles.push_back(flag.kind);
            EXPECT_EQ(troubles, e.troubles) << seen_line(seen[i]);
        }
    }
}

TEST(Conversation, LatencyRunsFromTheRequestsLastByteToTheReplysLast) {
    const std::vector<Seen> seen =
        play({{true, 0, "83"}, {true, 7, "01"}, {false, 9, "00"}, {false, 19, "00 00 20 41"}}, 600);
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_TRUE(seen[0].latency_ms);
    EXPECT_DOUBLE_EQ(*seen[0].latency_ms, 12.0);
    const auto recorded = seen_record(seen[0]);
    ASSERT_TRUE(recorded);
    EXPECT_NE(record_line(*recorded).find("\"latency_ms\":12.0"), std::string::npos)
        << record_line(*recorded);
}

TEST(Conversation, AnExchangeWithItsWholeReplyClosesSoonAfterIt) {
    std::vector<Seen> seen;
    Conversation conversation([&](const Seen& s) { seen.push_back(s); });
    const Clock::time_point start{};
    conversation.from_host(bytes_of("8B"), start);
    EXPECT_EQ(conversation.deadline(), start + milliseconds(500));
    conversation.from_device(bytes_of("5A"), start + milliseconds(1));
    const auto due = conversation.deadline();
    ASSERT_TRUE(due);
    EXPECT_LT(*due, start + milliseconds(100));
    conversation.tick(*due);
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_FALSE(conversation.deadline());
}

TEST(Summary, CountsTroubleByKindAndTimesWholeReplies) {
    Summary summary;
    for (const auto& s : play({{true, 0, "8B"},
                               {false, 1, "5A"},
                               {true, 100, "8B"},
                               {false, 103, "5A"},
                               {true, 200, "83 00"}},
                              900)) {
        summary.add(s);
    }
    EXPECT_EQ(summary.exchanges(), 3u);
    EXPECT_EQ(summary.count(Trouble::no_reply), 1u);
    EXPECT_EQ(summary.text(),
              "3 exchanges, 1 with trouble; no reply 1\n"
              "reply latency median 2.000 ms, maximum 3.000 ms over 2 whole replies\n");
}

}  // namespace
}  // namespace qk42rt::wire
