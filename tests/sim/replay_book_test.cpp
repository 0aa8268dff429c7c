// Recordings: the JSON line of an exchange read back, and a recording played as answers.
#include "replay_book.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace qk42rt::sim {
namespace {

Bytes bytes_of(const char* text) {
    std::string error;
    return parse_hex(text, error).value();
}

Recorded recorded(const char* request, const char* reply, std::optional<double> latency = 1.5) {
    return {"2024-05-01T12:00:01.234Z", bytes_of(request), bytes_of(reply), latency};
}

TEST(Recording, ALineReadsBackAsWritten) {
    for (const Recorded& r :
         {recorded("83 01", "00 00 00 20 41"), recorded("83 01", "", std::nullopt),
          recorded("8F 00 04 00 00 48 42 FF", "0F", 0.123)}) {
        const std::string line = record_line(r);
        std::string error;
        const auto back = parse_record_line(line, error);
        ASSERT_TRUE(back) << line << ": " << error;
        EXPECT_EQ(back->request, r.request);
        EXPECT_EQ(back->reply, r.reply);
        EXPECT_EQ(back->latency_ms, r.latency_ms);
        EXPECT_EQ(back->time, r.time);
    }
    EXPECT_EQ(
        record_line(recorded("83 01", "00 00 00 20 41", 1.23)),
        R"({"latency_ms":1.23,"reply":"00 00 00 20 41","request":"83 01","time":"2024-05-01T12:00:01.234Z"})");
}

TEST(Recording, LinesThatAreNoExchangeSayWhy) {
    const std::pair<const char*, const char*> cases[] = {
        {"83 01", "not a JSON object"},
        {R"({"reply":"00"})", "no \"request\" text"},
        {R"({"request":"","reply":""})", "an empty \"request\""},
        {R"({"request":"83 01","reply":"0G"})", "\"reply\": not hex bytes: '0G'"},
        {R"({"request":"83 01","reply":"","latency_ms":-1})", "\"latency_ms\" below 0"},
        {R"({"request":"83 01","reply":"","latency_ms":"1"})",
         "\"latency_ms\" is neither a number nor null"},
    };
    for (const auto& [line, why] : cases) {
        std::string error;
        EXPECT_FALSE(parse_record_line(line, error)) << line;
        EXPECT_EQ(error, why) << line;
    }
}

TEST(ReplayBook, EachRequestGetsItsRepliesInOrderThenTheLastAgain) {
    ReplayBook book;
    book.add(recorded("83 00", "00 00 00 80 3F"));
    book.add(recorded("83 01", "00 00 00 00 40"));
    book.add(recorded("83 00", "00 00 00 00 41"));
    book.add(recorded("8B", ""));
    const char* const expected[] = {"00 00 00 80 3F", "00 00 00 00 41", "00 00 00 00 41"};
    for (const char* reply : expected) {
        const auto next = book.next(bytes_of("83 00"));
        ASSERT_TRUE(next);
        EXPECT_EQ(next->reply, bytes_of(reply));
    }
    EXPECT_EQ(book.next(bytes_of("83 01"))->reply, bytes_of("00 00 00 00 40"));
    EXPECT_FALSE(book.next(bytes_of("83 02")));
    EXPECT_EQ(book.exchanges(), 4u);
    EXPECT_EQ(book.distinct_requests(), 3u);
}

TEST(ReplayBook, AnswersTheSimulatorWithOrWithoutTheRecordedTiming) {
    ReplayBook book;
    book.add(recorded("83 00", "00 00 00 80 3F", 12.4));
    book.add(recorded("8B", "", std::nullopt));
    const sim::Answer timed = replay_answer(book, bytes_of("83 00"), true);
    EXPECT_EQ(timed.bytes, bytes_of("00 00 00 80 3F"));
    EXPECT_EQ(timed.delay_ms, 12);
    EXPECT_EQ(replay_answer(book, bytes_of("83 00"), false).delay_ms, 0);
    const sim::Answer silent = replay_answer(book, bytes_of("8B"), true);
    EXPECT_TRUE(silent.bytes.empty());
    EXPECT_EQ(silent.note, "recorded without a reply");
    const sim::Answer unknown = replay_answer(book, bytes_of("83 07"), true);
    EXPECT_TRUE(unknown.bytes.empty());
    EXPECT_EQ(unknown.note, "not in the recording: no reply");
}

TEST(ReplayBook, LoadNamesTheLineThatIsNoExchange) {
    char path[] = "/tmp/qk42rt-replay-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        std::ofstream file(path);
        file << record_line(recorded("83 00", "00 00 00 80 3F")) << "\n\n{\"request\":\"83\"}\n";
    }
    try {
        ReplayBook::load(path);
        ADD_FAILURE() << "a bad line was taken";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()),
                  std::string(path) + ":3: not a recorded exchange: no \"reply\" text");
    }
    { std::ofstream file(path); }
    EXPECT_THROW(ReplayBook::load(path), std::runtime_error);  // no exchange at all
    std::remove(path);
    EXPECT_THROW(ReplayBook::load(path), std::runtime_error);  // no file
}

}  // namespace
}  // namespace qk42rt::sim
