#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cmath>
#include <limits>

#include "command_case.h"
#include "commands/version_text.h"

namespace qk42rt::commands {
namespace {

using testing::run_against;
using testing::Sent;

TEST(ReadVersion, DecodesTextKindAndInfoBytes) {
    struct Case {
        const char* reply;
        bool ok;
        std::optional<float> number;
        int kind;
    } cases[] = {
        {"31 2E 32 43 08 01", true, 1.2f, 1},          {"31 2E 31 4D 00 FF", true, 1.1f, 0},
        {"31 32 61 4D 00 00", true, 12.0f, 0},         {"76 31 2E 43 02 03", true, std::nullopt, 1},
        {"31 2E 32 58 08 01", false, std::nullopt, 0}, {"31 2E 32 43 08", false, std::nullopt, 0},
    };
    for (const auto& c : cases) {
        Sent sent;
        auto outcome = run_against(
            c.reply, [](Line& l) { return read_version(l, 1); }, &sent);
        EXPECT_EQ(sent.request, "80 00");
        ASSERT_EQ(outcome.ok(), c.ok) << c.reply;
        if (!c.ok) continue;
        EXPECT_EQ(outcome.value().number, c.number) << c.reply;
        EXPECT_EQ(outcome.value().kind, c.kind) << c.reply;
    }
    Sent sent;
    auto full = run_against(
        "31 2E 32 43 08 01", [](Line& l) { return read_version(l, 1); }, &sent);
    EXPECT_EQ(full.value().info1, 8);
    EXPECT_EQ(full.value().info2, 1);
    auto unknown = run_against(
        "31 2E 32 58 08 01", [](Line& l) { return read_version(l, 1); }, &sent);
    EXPECT_EQ(unknown.error().why, Failure::unknown_kind);
    EXPECT_EQ(unknown.error().got, 0x58);
}

TEST(VersionText, ReadsAsTheClassicLocaleDoes) {
    const std::pair<const char*, std::optional<float>> cases[] = {
        {"1.2", 1.2f}, {"12a", 12.0f},  {" 1.", 1.0f}, {"+1.", 1.0f},   {"-.5", -0.5f},
        {".5 ", 0.5f}, {"1e2", 100.0f}, {"1e+", 1.0f}, {"1e-", 1.0f},   {"9e9", 9e9f},
        {"v1.", {}},   {"...", {}},     {"-", {}},     {"", {}},        {" . ", {}},
        {"inf", {}},   {"nan", {}},     {"1,2", 1.0f}, {"\t\n7", 7.0f}, {"0x1", 0.0f},
        {"1", 1.0f},
    };
    for (const auto& [text, number] : cases) EXPECT_EQ(scan_version_number(text), number) << text;
}

TEST(VersionText, IgnoresTheHostsLocale) {
    // A host that set a locale with a decimal comma still reads 1.2.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr &&
        std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") == nullptr) {
        GTEST_SKIP() << "no locale with a decimal comma installed";
    }
    EXPECT_EQ(scan_version_number("1.2"), 1.2f);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(SystemCommands, DisplayAndKeyLockSubCodesAndFiveByteReplies) {
    struct Case {
        std::function<Outcome<Done>(Line&)> write;
        const char* request;
        const char* reply;
        bool ok;
    } cases[] = {
        {[](Line& l) { return set_display(l, 1, 1, 0); }, "80 06", "00 00 00 00 00", true},
        {[](Line& l) { return set_display(l, 1, 0, 0); }, "80 04", "FF FF FF FF FF", true},
        {[](Line& l) { return set_display(l, 1, -5, 7); }, "80 07", "01 02 03 04 05", true},
        {[](Line& l) { return set_display(l, 1, 0, 1); }, "80 05", "01 02 03 04", false},
        {[](Line& l) { return set_key_lock(l, 3, 1); }, "A0 30", "00 00 00 00 00", true},
        {[](Line& l) { return set_key_lock(l, 3, 0); }, "A0 20", "00 00 00 00 00", true},
        {[](Line& l) { return set_key_lock(l, 3, INT_MIN); }, "A0 30", "00 00 00 00 00", true},
        {[](Line& l) { return set_key_lock(l, 3, 1); }, "A0 30", "00 00 00 00", false},
    };
    for (const auto& c : cases) {
        Sent sent;
        auto outcome = run_against(c.reply, c.write, &sent);
        EXPECT_EQ(sent.request, c.request);
        EXPECT_EQ(outcome.ok(), c.ok) << c.request << " / " << c.reply;
    }
}

}  // namespace
}  // namespace qk42rt::commands
