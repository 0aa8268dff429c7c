// One exchange over the scripted port: order of port calls, buffers, the three checks.
#include "protocol/exchange.h"

#include <gtest/gtest.h>

#include "protocol/command_table.h"
#include "support/scripted_port.h"

namespace qk42rt::protocol {
namespace {

using testing::hex;
using testing::ScriptedPort;

TEST(Exchange, ClearsThenWritesOnceThenReadsOnceWithTheTimeout) {
    ScriptedPort port;
    port.script(hex("02 00 00 C8 42"));
    Line line(&port);
    const Reply reply = line.exchange({0x83, 0x00}, 5);
    EXPECT_EQ(port.calls(), "clear write read(5,500)");
    EXPECT_EQ(hex(port.last_request()), "83 00");
    EXPECT_EQ(hex(reply.view()), "02 00 00 C8 42");
}

TEST(Exchange, ShortReplyLeavesTheRestOfTheBufferZero) {
    ScriptedPort port;
    port.script(hex("FF FF"));
    Line line(&port);
    const Reply reply = line.exchange({0x80, 0x00}, 6);
    EXPECT_EQ(reply.size, 2u);
    EXPECT_EQ(hex(reply.bytes), "FF FF 00 00 00 00");
}

TEST(Exchange, SurplusStaysOnTheLineUntilTheNextClear) {
    ScriptedPort port;
    port.script(hex("0E 55 55"));
    port.script(hex("0E"));
    Line line(&port);
    EXPECT_EQ(line.exchange({0x8E}, 1).size, 1u);
    EXPECT_EQ(port.pending(), 2u);
    const Reply next = line.exchange({0x8E}, 1);
    EXPECT_EQ(hex(next.view()), "0E");
    EXPECT_EQ(port.pending(), 0u);
}

TEST(Exchange, WithoutAPortSendsNothingAndCountsNothing) {
    std::vector<std::string> traced;
    Line line(nullptr, [&](const Request& request, const Reply& reply) {
        traced.push_back(hex(request.view()) + " -> " + std::to_string(reply.size));
    });
    const Reply reply = line.exchange({0x83, 0x00}, 5);
    EXPECT_EQ(reply.size, 0u);
    EXPECT_FALSE(reply.port_held);
    EXPECT_EQ(traced, std::vector<std::string>{"83 00 -> 0"});
}

TEST(Exchange, TraceHookSeesRequestAndReplyAsTheyWere) {
    ScriptedPort port;
    port.script(hex("0E 01 02"));
    std::string seen;
    Line line(&port, [&](const Request& request, const Reply& reply) {
        seen = hex(request.view()) + " | " + hex(reply.view());
    });
    line.exchange({0x8E, 0x00, 0x04, 0x00, 0x00, 0x00, 0x3F}, 1);
    EXPECT_EQ(seen, "8E 00 04 00 00 00 3F | 0E");
}

TEST(Judge, EachCheckAgainstEachKindOfReply) {
    struct Case {
        const char* name;
        bool port_held;
        const char* bytes;
        std::size_t expected;
        Check check;
        std::optional<Failure> failure;
    } cases[] = {
        {"data, full", true, "02 00 00 C8 42", 5, Check::data, std::nullopt},
        {"data, short", true, "02 00 00 C8", 5, Check::data, Failure::short_reply},
        {"data, none", true, "", 5, Check::data, Failure::no_reply},
        {"no port", false, "", 5, Check::data, Failure::no_port},
        {"ack, right", true, "0E", 1, Check::acknowledged, std::nullopt},
        {"ack, header echoed", true, "8E", 1, Check::acknowledged, Failure::wrong_ack},
        {"ack, other", true, "0F", 1, Check::acknowledged, Failure::wrong_ack},
        {"ack, none", true, "", 1, Check::acknowledged, Failure::no_reply},
        {"any, other byte", true, "55", 1, Check::any_of_length, std::nullopt},
        {"any, five", true, "00 00 00 00 00", 5, Check::any_of_length, std::nullopt},
        {"any, four of five", true, "00 00 00 00", 5, Check::any_of_length, Failure::short_reply},
    };
    for (const auto& c : cases) {
        Reply reply;
        reply.port_held = c.port_held;
        reply.expected = c.expected;
        for (std::uint8_t b : hex(c.bytes)) reply.bytes[reply.size++] = b;
        const auto error = judge(reply, c.check, 0x8E);
        ASSERT_EQ(error.has_value(), c.failure.has_value()) << c.name;
        if (error) {
            EXPECT_EQ(error->why, *c.failure) << c.name;
            EXPECT_EQ(error->received, reply.size) << c.name;
            EXPECT_EQ(error->expected, c.expected) << c.name;
        }
    }
}

TEST(Describe, SaysWhyInOneLine) {
    EXPECT_EQ(describe({Failure::short_reply, 3, 5}), "short reply: 3 of 5 bytes");
    Error ack{Failure::wrong_ack, 1, 1};
    ack.got = 0x8E;
    ack.wanted = 0x0E;
    EXPECT_EQ(describe(ack), "wrong acknowledge: 0x8E instead of 0x0E");
    EXPECT_EQ(describe({Failure::no_port}), "no port is open");
}

TEST(CommandTable, LengthsOfEveryCommand) {
    // code: request length, reply length (system: the version read)
    const std::size_t requests[16] = {2, 3, 2, 2, 2, 2, 2, 1, 2, 1, 5, 1, 3, 2, 7, 8};
    const std::size_t replies[16] = {6, 1, 1, 5, 5, 5, 4, 4, 1, 3, 1, 1, 1, 1, 1, 1};
    for (std::uint8_t code = 0; code < 16; ++code) {
        const auto info = command_info(static_cast<Code>(code));
        ASSERT_TRUE(info);
        EXPECT_EQ(info->request_length, requests[code]) << int(code);
        EXPECT_EQ(info->reply_length, replies[code]) << int(code);
    }
    for (std::uint8_t sub : {0x04, 0x05, 0x06, 0x07, 0x20, 0x30}) {
        EXPECT_EQ(command_info(Code::system, sub)->reply_length, 5u) << int(sub);
        EXPECT_EQ(command_info(Code::system, sub)->check, Check::any_of_length);
    }
    EXPECT_FALSE(command_info(Code::system, 0x01));
    EXPECT_FALSE(command_info(Code::system, 0x08));
}

}  // namespace
}  // namespace qk42rt::protocol
