// Requests as typed values: every operation built by the library for every address and
// channel (and the extremes of every other argument) reads back through the core's parser as
// the instrument would read it, and re-encodes to the same bytes.
#include "protocol/request.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <variant>

#include "commands/commands.h"
#include "support/scripted_port.h"

namespace qk42rt::protocol {
namespace {

using testing::Bytes;
using testing::hex;

// What the instrument makes of an int the library reduced to a field, worked out here in
// 64-bit arithmetic from the wire format's rules rather than from the encoders.
int field_1_to(long long value, int modulus) {  // (value - 1) reduced, plus 1
    return static_cast<int>(((value - 1) % modulus + modulus) % modulus) + 1;
}
int low_8_bits(long long value) {
    return static_cast<int>((value % 256 + 256) % 256);
}

const int kValues[] = {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, INT_MIN, INT_MAX};

struct Built {
    const char* name;
    std::function<void(Line&, int address, int v)> call;  // v: the channel and every int
    std::function<Operation(int v)> expected;             // as the instrument reads it
};

std::vector<Built> every_operation() {
    namespace cmd = commands;
    const auto channel = [](int v) { return field_1_to(v, 8); };
    return {
        {"read version", [](Line& l, int a, int) { cmd::read_version(l, a); },
         [](int) { return op::ReadVersion{}; }},
        {"set display", [](Line& l, int a, int v) { cmd::set_display(l, a, v, v == 1 ? 0 : 1); },
         [](int v) {
             return op::SetDisplay{v != 0, v != 1};
         }},
        {"set key lock", [](Line& l, int a, int v) { cmd::set_key_lock(l, a, v); },
         [](int v) { return op::SetKeyLock{v != 0}; }},
        {"set unit", [](Line& l, int a, int v) { cmd::set_unit(l, a, v, v); },
         [=](int v) {
             return op::SetUnit{channel(v), field_1_to(v, 4)};
         }},
        {"read unit", [](Line& l, int a, int v) { cmd::read_unit(l, a, v); },
         [=](int v) { return op::ReadUnit{channel(v)}; }},
        {"read flow", [](Line& l, int a, int v) { cmd::read_flow(l, a, v); },
         [=](int v) { return op::ReadFlow{channel(v)}; }},
        {"read setpoint", [](Line& l, int a, int v) { cmd::read_setpoint(l, a, v); },
         [=](int v) { return op::ReadSetpoint{channel(v)}; }},
        {"read maxflow", [](Line& l, int a, int v) { cmd::read_maxflow(l, a, v); },
         [=](int v) { return op::ReadMaxflow{channel(v)}; }},
        {"read intflow", [](Line& l, int a, int v) { cmd::read_intflow(l, a, v); },
         [=](int v) { return op::ReadIntflow{channel(v)}; }},
        {"read inttime", [](Line& l, int a, int) { cmd::read_inttime(l, a); },
         [](int) { return op::ReadInttime{}; }},
        {"int control", [](Line& l, int a, int v) { cmd::int_control(l, a, v); },
         [](int v) { return op::IntControl{low_8_bits(v)}; }},
        {"read ratio total", [](Line& l, int a, int) { cmd::read_ratio_total(l, a); },
         [](int) { return op::ReadRatioTotal{}; }},
        {"set ratio total",
         [](Line& l, int a, int v) {
             cmd::set_ratio_total(l, a, {v, v, v, v});
         },
         [=](int v) {
             return op::SetRatioTotal{{channel(v), low_8_bits(v), channel(v), channel(v)}};
         }},
        {"read on off", [](Line& l, int a, int) { cmd::read_on_off(l, a); },
         [](int) { return op::ReadOnOff{}; }},
        {"set on off", [](Line& l, int a, int v) { cmd::set_on_off(l, a, v); },
         [](int v) { return op::SetOnOff{low_8_bits(v)}; }},
        {"control ratio total", [](Line& l, int a, int v) { cmd::control_ratio_total(l, a, v); },
         [](int v) { return op::ControlRatioTotal{v % 3}; }},
        {"set setpoint", [](Line& l, int a, int v) { cmd::set_setpoint(l, a, v, -1.5f); },
         [=](int v) {
             return op::SetSetpoint{channel(v), -1.5f};
         }},
        {"set maxflow", [](Line& l, int a, int v) { cmd::set_maxflow(l, a, v, 100.0f, v); },
         [=](int v) {
             return op::SetMaxflow{channel(v), 100.0f, v % 5};
         }},
    };
}

TEST(RequestRoundTrip, EveryOperationAtEveryAddressAndChannelReadsBackAsSent) {
    for (const Built& built : every_operation()) {
        for (const int address : kValues) {
            for (const int v : kValues) {
                testing::ScriptedPort port;
                Line line(&port);
                built.call(line, address, v);
                ASSERT_EQ(port.requests().size(), 1u) << built.name;
                const auto& sent = port.last_request();
                const ParsedRequest parsed = parse_request(sent);
                const std::string where = std::string(built.name) + " address " +
                                          std::to_string(address) + " v " + std::to_string(v) +
                                          ": " + hex(sent);
                ASSERT_TRUE(parsed.as_sent())
                    << where << " " << ::testing::PrintToString(parsed.problems);
                EXPECT_EQ(parsed.request->address, field_1_to(address, 8)) << where;
                EXPECT_EQ(parsed.request->operation, built.expected(v)) << where;
                EXPECT_EQ(hex(encode(*parsed.request).view()), hex(sent)) << where;
                EXPECT_EQ(parsed.command,
                          operation_name(command_of(parsed.request->operation).name))
                    << where;
            }
        }
    }
}

// Bytes the library never sends: the instrument still reads each field its own way (the
// low bits), while the parser names what is wrong for a listener on the line.
TEST(ParseRequest, TheInstrumentReadsFieldsTheLibraryWouldNotHaveSent) {
    struct Case {
        Bytes bytes;
        Operation read_as;
        std::size_t problems;
    } cases[] = {
        {{0x83, 0x09}, op::ReadFlow{2}, 1},
        {{0x81, 0x00, 0x05}, op::SetUnit{1, 2}, 1},
        {{0x8C, 0x15, 0x0A}, op::SetOnOff{0x5A}, 1},
        {{0x8A, 0x01, 0x0A, 0x05, 0x28}, op::SetRatioTotal{{2, 0xA5, 3, 1}}, 1},
        {{0x8D, 0x03}, op::ControlRatioTotal{3}, 1},
        {{0x88, 0x85}, op::IntControl{0x85}, 0},
        {{0x83, 0x85}, op::ReadFlow{6}, 1},  // bit 7 in a data byte: read, not judged further
    };
    for (const Case& c : cases) {
        const ParsedRequest parsed = parse_request(c.bytes);
        ASSERT_TRUE(parsed.request.has_value()) << hex(c.bytes);
        EXPECT_EQ(parsed.request->operation, c.read_as) << hex(c.bytes);
        EXPECT_EQ(parsed.problems.size(), c.problems) << hex(c.bytes);
    }
}

TEST(ParseRequest, NoRequestWithoutAHeaderTheLengthOrAKnownSubcode) {
    for (const Bytes& bytes : {Bytes{}, Bytes{0x03, 0x01}, Bytes{0x83}, Bytes{0x8B, 0x00},
                               Bytes{0x80, 0x08}, Bytes{0x80, 0x40}}) {
        const ParsedRequest parsed = parse_request(bytes);
        EXPECT_FALSE(parsed.request.has_value()) << hex(bytes);
        EXPECT_FALSE(parsed.problems.empty()) << hex(bytes);
    }
}

}  // namespace
}  // namespace qk42rt::protocol
