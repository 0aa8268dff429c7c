// libqk42 on the in-memory port: every function's bytes on the wire and decoded outputs, the
// status and reason of every failure the protocol can show, strict arguments with nothing
// sent, and the trace.
#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "scripted_line.h"

namespace qk42rt::testing {
namespace {

// Every output any function may write, starting from values no reply produces.
struct Out {
    float value = -7.0f;
    int a = -7, b = -7, c = -7, d = -7;
    unsigned char bytes[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    char text[4] = {'x', 'x', 'x', 'x'};
    bool untouched() const {
        const Out fresh;
        return std::memcmp(&value, &fresh.value, sizeof value) == 0 && a == -7 && b == -7 &&
               c == -7 && d == -7 && std::memcmp(bytes, fresh.bytes, 4) == 0 &&
               std::memcmp(text, fresh.text, 4) == 0;
    }
};

using Call = std::function<qk42_status(qk42_line*, Out&)>;

struct Operation {
    const char* name;
    Call call;
    const char* request;
    const char* good_reply;
    std::function<void(const Out&)> check;  // the outputs of the good reply
};

const Operation kOperations[] = {
    {"read_flow", [](qk42_line* l, Out& o) { return qk42_read_flow(l, 1, 2, &o.value, &o.a); },
     "83 01", "0B 00 00 C8 42",
     [](const Out& o) {
         EXPECT_EQ(o.value, -1.0f);
         EXPECT_EQ(o.a, 3);
     }},
    {"read_setpoint",
     [](qk42_line* l, Out& o) { return qk42_read_setpoint(l, 2, 8, &o.value, &o.a); }, "94 07",
     "0F 00 00 C8 42",
     [](const Out& o) {
         EXPECT_EQ(o.value, 100.0f);
         EXPECT_EQ(o.a, 7);
     }},
    {"read_maxflow",
     [](qk42_line* l, Out& o) { return qk42_read_maxflow(l, 8, 1, &o.value, &o.a); }, "F5 00",
     "00 FF FF 7F 3F",
     [](const Out& o) { EXPECT_EQ(std::bit_cast<std::uint32_t>(o.value), 0x3F7FFFFFu); }},
    {"read_unit", [](qk42_line* l, Out& o) { return qk42_read_unit(l, 1, 3, &o.a); }, "82 02", "FF",
     [](const Out& o) { EXPECT_EQ(o.a, 256); }},
    {"set_unit", [](qk42_line* l, Out&) { return qk42_set_unit(l, 1, 1, 3); }, "81 00 02", "01",
     [](const Out&) {}},
    {"set_setpoint", [](qk42_line* l, Out&) { return qk42_set_setpoint(l, 2, 3, -1.0f); },
     "9E 02 0C 00 00 00 3F", "1E", [](const Out&) {}},
    {"set_maxflow", [](qk42_line* l, Out&) { return qk42_set_maxflow(l, 1, 2, 100.0f, 2); },
     "8F 01 04 00 00 48 42 02", "0F", [](const Out&) {}},
    {"read_intflow", [](qk42_line* l, Out& o) { return qk42_read_intflow(l, 1, 6, o.bytes); },
     "86 05", "D0 C0 B0 A0",
     [](const Out& o) { EXPECT_EQ(std::memcmp(o.bytes, "\xD0\xC0\xB0\xA0", 4), 0); }},
    {"read_inttime", [](qk42_line* l, Out& o) { return qk42_read_inttime(l, 2, o.bytes); }, "97",
     "01 02 03 04",
     [](const Out& o) { EXPECT_EQ(std::memcmp(o.bytes, "\x01\x02\x03\x04", 4), 0); }},
    {"int_control", [](qk42_line* l, Out&) { return qk42_int_control(l, 1, 127); }, "88 7F", "08",
     [](const Out&) {}},
    {"read_ratio_total",
     [](qk42_line* l, Out& o) { return qk42_read_ratio_total(l, 1, &o.a, &o.b, &o.c, &o.d); }, "89",
     "01 A5 23",
     [](const Out& o) {
         EXPECT_EQ(o.a, 2);
         EXPECT_EQ(o.b, 165);
         EXPECT_EQ(o.c, 3);
         EXPECT_EQ(o.d, 4);
     }},
    {"set_ratio_total",
     [](qk42_line* l, Out&) { return qk42_set_ratio_total(l, 1, 2, 0xA5, 3, 4); }, "8A 01 0A 05 23",
     "0A", [](const Out&) {}},
    {"control_ratio_total", [](qk42_line* l, Out&) { return qk42_control_ratio_total(l, 1, 2); },
     "8D 02", "0D", [](const Out&) {}},
    {"read_on_off", [](qk42_line* l, Out& o) { return qk42_read_on_off(l, 1, &o.a); }, "8B", "FF",
     [](const Out& o) { EXPECT_EQ(o.a, 255); }},
    {"set_on_off", [](qk42_line* l, Out&) { return qk42_set_on_off(l, 1, 0x5A); }, "8C 05 0A", "77",
     [](const Out&) {}},
    {"read_version",
     [](qk42_line* l, Out& o) {
         return qk42_read_version(l, 1, o.text, &o.value, &o.a, &o.b, &o.c);
     },
     "80 00", "31 2E 32 43 08 01",
     [](const Out& o) {
         EXPECT_STREQ(o.text, "1.2");
         EXPECT_EQ(o.value, 1.2f);
         EXPECT_EQ(o.a, 1);
         EXPECT_EQ(o.b, 8);
         EXPECT_EQ(o.c, 1);
     }},
    {"set_display", [](qk42_line* l, Out&) { return qk42_set_display(l, 1, 1, 0); }, "80 06",
     "00 06 02 00 00", [](const Out&) {}},
    {"set_key_lock", [](qk42_line* l, Out&) { return qk42_set_key_lock(l, 3, 1); }, "A0 30",
     "20 30 00 01 00", [](const Out&) {}},
};

TEST(HostScripted, EveryFunctionSendsItsBytesAndDecodesItsReply) {
    for (const Operation& op : kOperations) {
        SCOPED_TRACE(op.name);
        ScriptedLine line;
        line.port().script(hex(op.good_reply));
        Out out;
        EXPECT_EQ(op.call(line.get(), out), QK42_OK) << line.last_error();
        ASSERT_EQ(line.port().requests().size(), 1u);
        EXPECT_EQ(hex(line.port().last_request()), op.request);
        EXPECT_EQ(line.last_error(), "");
        op.check(out);
    }
}

// What happens to the good reply, and the status that follows for an operation.
struct Fault {
    const char* name;
    std::function<Bytes(const Bytes&)> spoil;
    qk42_status (*expected)(const Operation&);
};

// The operations whose one reply byte must be the acknowledge byte.
bool acknowledged(const Operation& op) {
    for (const char* name : {"set_unit", "set_setpoint", "set_maxflow", "int_control",
                             "set_ratio_total", "control_ratio_total"}) {
        if (std::string(op.name) == name) return true;
    }
    return false;
}

TEST(HostScripted, EveryFailureHasItsStatusAndReasonAndLeavesOutputsAlone) {
    const Fault faults[] = {
        {"no reply", [](const Bytes&) { return Bytes{}; },
         [](const Operation&) { return QK42_NO_REPLY; }},
        {"short reply", [](const Bytes& good) { return Bytes(good.begin(), good.end() - 1); },
         [](const Operation& op) {
             return hex(op.good_reply).size() == 1 ? QK42_NO_REPLY : QK42_SHORT_REPLY;
         }},
        {"one other byte",
         [](const Bytes& good) { return Bytes{static_cast<std::uint8_t>(good[0] ^ 0x40)}; },
         [](const Operation& op) {
             if (hex(op.good_reply).size() > 1) return QK42_SHORT_REPLY;
             return acknowledged(op) ? QK42_WRONG_ACK : QK42_OK;  // data and any-reply take it
         }},
    };
    for (const Operation& op : kOperations) {
        for (const Fault& fault : faults) {
            SCOPED_TRACE(std::string(op.name) + ", " + fault.name);
            ScriptedLine line;
            line.port().script(fault.spoil(hex(op.good_reply)));
            Out out;
            const qk42_status expected = fault.expected(op);
            EXPECT_EQ(op.call(line.get(), out), expected) << qk42_status_name(expected);
            if (expected != QK42_OK) {
                EXPECT_TRUE(out.untouched());
                EXPECT_NE(line.last_error(), "");
            }
        }
    }
}

TEST(HostScripted, ReasonsReadAsTheCoreDescribesThem) {
    ScriptedLine line;
    float flow = 0;
    int status = 0;
    line.port().script({});
    EXPECT_EQ(qk42_read_flow(line.get(), 1, 1, &flow, &status), QK42_NO_REPLY);
    EXPECT_EQ(line.last_error(), "no reply: 0 of 5 bytes within 500 ms");
    line.port().script(hex("02 00 00"));
    EXPECT_EQ(qk42_read_flow(line.get(), 1, 1, &flow, &status), QK42_SHORT_REPLY);
    EXPECT_EQ(line.last_error(), "short reply: 3 of 5 bytes");
    line.port().script(hex("8E"));
    EXPECT_EQ(qk42_set_setpoint(line.get(), 1, 1, 1.0f), QK42_WRONG_ACK);
    EXPECT_EQ(line.last_error(), "wrong acknowledge: 0x8E instead of 0x0E");
    char text[4];
    int kind = 0, info1 = 0, info2 = 0;
    line.port().script(hex("31 2E 32 58 08 01"));
    EXPECT_EQ(qk42_read_version(line.get(), 1, text, &flow, &kind, &info1, &info2), QK42_BAD_KIND);
    EXPECT_EQ(line.last_error(), "unknown kind letter 0x58 (neither 'M' nor 'C')");
    ASSERT_EQ(qk42_set_reply_timeout(line.get(), 800), QK42_OK);
    line.port().script({});
    EXPECT_EQ(qk42_read_flow(line.get(), 1, 1, &flow, &status), QK42_NO_REPLY);
    EXPECT_EQ(line.last_error(), "no reply: 0 of 5 bytes within 800 ms");
    EXPECT_NE(line.port().calls().find("read(5,800)"), std::string::npos) << line.port().calls();
}

TEST(HostScripted, AVersionTextWithoutANumberGivesNaN) {
    ScriptedLine line;
    line.port().script(hex("76 31 2E 4D 00 FF"));
    char text[4];
    float number = 0;
    int kind = -1, info1 = -1, info2 = -1;
    ASSERT_EQ(qk42_read_version(line.get(), 1, text, &number, &kind, &info1, &info2), QK42_OK);
    EXPECT_STREQ(text, "v1.");
    EXPECT_TRUE(std::isnan(number));
    EXPECT_EQ(kind, 0);
    EXPECT_EQ(info2, 255);
}

struct Refused {
    const char* name;
    Call call;
    const char* says;
};

TEST(HostScripted, ArgumentsOutsideTheirRangeSendNothing) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Refused cases[] = {
        {"address 0", [](qk42_line* l, Out& o) { return qk42_read_flow(l, 0, 1, &o.value, &o.a); },
         "address must be 1 to 8, not 0"},
        {"address 9", [](qk42_line* l, Out& o) { return qk42_read_on_off(l, 9, &o.a); },
         "address must be 1 to 8, not 9"},
        {"address INT_MIN", [](qk42_line* l, Out&) { return qk42_set_key_lock(l, INT_MIN, 1); },
         "address must be 1 to 8"},
        {"channel 0", [](qk42_line* l, Out& o) { return qk42_read_unit(l, 1, 0, &o.a); },
         "channel must be 1 to 8, not 0"},
        {"channel 9", [](qk42_line* l, Out& o) { return qk42_read_intflow(l, 1, 9, o.bytes); },
         "channel must be 1 to 8, not 9"},
        {"unit 0", [](qk42_line* l, Out&) { return qk42_set_unit(l, 1, 1, 0); },
         "unit must be 1 to 4, not 0"},
        {"unit 5", [](qk42_line* l, Out&) { return qk42_set_unit(l, 1, 1, 5); },
         "unit must be 1 to 4, not 5"},
        {"code -1", [](qk42_line* l, Out&) { return qk42_set_maxflow(l, 1, 1, 1.0f, -1); },
         "maximum-flow code must be 0 to 4, not -1"},
        {"code 5", [](qk42_line* l, Out&) { return qk42_set_maxflow(l, 1, 1, 1.0f, 5); },
         "maximum-flow code must be 0 to 4"},
        {"maxflow NaN", [nan](qk42_line* l, Out&) { return qk42_set_maxflow(l, 1, 1, nan, 0); },
         "maximum flow must be a finite number"},
        {"setpoint infinite",
         [inf](qk42_line* l, Out&) { return qk42_set_setpoint(l, 1, 1, -inf); },
         "setpoint must be a finite number"},
        {"mode 3", [](qk42_line* l, Out&) { return qk42_control_ratio_total(l, 1, 3); },
         "ratio/total mode must be 0 to 2, not 3"},
        {"mode -1", [](qk42_line* l, Out&) { return qk42_control_ratio_total(l, 1, -1); },
         "ratio/total mode must be 0 to 2"},
        {"control 128", [](qk42_line* l, Out&) { return qk42_int_control(l, 1, 128); },
         "integration control must be 0 to 127, not 128"},
        {"control -1", [](qk42_line* l, Out&) { return qk42_int_control(l, 1, -1); },
         "integration control must be 0 to 127"},
        {"state 256", [](qk42_line* l, Out&) { return qk42_set_on_off(l, 1, 256); },
         "on/off state must be 0 to 255, not 256"},
        {"state -1", [](qk42_line* l, Out&) { return qk42_set_on_off(l, 1, -1); },
         "on/off state must be 0 to 255"},
        {"ratio value 256",
         [](qk42_line* l, Out&) { return qk42_set_ratio_total(l, 1, 1, 256, 1, 1); },
         "ratio/total value must be 0 to 255"},
        {"ratio channel2 0",
         [](qk42_line* l, Out&) { return qk42_set_ratio_total(l, 1, 1, 1, 0, 1); },
         "channel2 must be 1 to 8"},
        {"ratio channel3 9",
         [](qk42_line* l, Out&) { return qk42_set_ratio_total(l, 1, 1, 1, 1, 9); },
         "channel3 must be 1 to 8"},
        {"null flow", [](qk42_line* l, Out& o) { return qk42_read_flow(l, 1, 1, nullptr, &o.a); },
         "an output pointer is null"},
        {"null status",
         [](qk42_line* l, Out& o) { return qk42_read_maxflow(l, 1, 1, &o.value, nullptr); },
         "an output pointer is null"},
        {"null bytes", [](qk42_line* l, Out&) { return qk42_read_inttime(l, 1, nullptr); },
         "an output pointer is null"},
        {"null channel3",
         [](qk42_line* l, Out& o) {
             return qk42_read_ratio_total(l, 1, &o.a, &o.b, &o.c, nullptr);
         },
         "an output pointer is null"},
        {"null text",
         [](qk42_line* l, Out& o) {
             return qk42_read_version(l, 1, nullptr, &o.value, &o.a, &o.b, &o.c);
         },
         "an output pointer is null"},
        {"null info2",
         [](qk42_line* l, Out& o) {
             return qk42_read_version(l, 1, o.text, &o.value, &o.a, &o.b, nullptr);
         },
         "an output pointer is null"},
        {"time-out 49", [](qk42_line* l, Out&) { return qk42_set_reply_timeout(l, 49); },
         "the reply time-out must be 50 to 10000 ms, not 49"},
        {"time-out 10001", [](qk42_line* l, Out&) { return qk42_set_reply_timeout(l, 10001); },
         "the reply time-out must be 50 to 10000 ms"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedLine line;
        line.port().script(hex("00 00 00 00 00 00"));
        Out out;
        EXPECT_EQ(c.call(line.get(), out), QK42_BAD_ARGUMENT);
        EXPECT_EQ(line.port().calls(), "") << "nothing reaches the line";
        EXPECT_TRUE(out.untouched());
        EXPECT_EQ(line.last_error().rfind("bad argument: ", 0), 0u) << line.last_error();
        EXPECT_NE(line.last_error().find(c.says), std::string::npos) << line.last_error();
    }
}

TEST(HostScripted, ANullLineIsABadArgumentEverywhere) {
    Out out;
    for (const Operation& op : kOperations) {
        SCOPED_TRACE(op.name);
        EXPECT_EQ(op.call(nullptr, out), QK42_BAD_ARGUMENT);
    }
    EXPECT_EQ(qk42_set_reply_timeout(nullptr, 500), QK42_BAD_ARGUMENT);
    qk42_set_trace(nullptr, nullptr, nullptr);
    qk42_close(nullptr);
    qk42_line* line = reinterpret_cast<qk42_line*>(&out);
    EXPECT_EQ(qk42_open(nullptr, &line), QK42_BAD_ARGUMENT);
    EXPECT_EQ(line, nullptr);
    EXPECT_EQ(qk42_open("/dev/null", nullptr), QK42_BAD_ARGUMENT);
}

TEST(HostScripted, StatusNamesAndTheLastErrorCopy) {
    const std::pair<qk42_status, const char*> names[] = {
        {QK42_OK, "ok"},
        {QK42_NO_REPLY, "no_reply"},
        {QK42_SHORT_REPLY, "short_reply"},
        {QK42_WRONG_ACK, "wrong_ack"},
        {QK42_BAD_KIND, "bad_kind"},
        {QK42_CANNOT_OPEN, "cannot_open"},
        {QK42_SETTINGS_REFUSED, "settings_refused"},
        {QK42_LINE_CLOSED, "line_closed"},
        {QK42_BAD_ARGUMENT, "bad_argument"},
        // 15 is no status, yet a value the enumeration can hold (its range is 0 to 15).
        {static_cast<qk42_status>(15), "unknown"},
    };
    for (const auto& [status, name] : names) EXPECT_STREQ(qk42_status_name(status), name);

    ScriptedLine line;
    float flow = 0;
    int status = 0;
    line.port().script({});
    ASSERT_EQ(qk42_read_flow(line.get(), 1, 1, &flow, &status), QK42_NO_REPLY);
    const std::string full = "no reply: 0 of 5 bytes within 500 ms";
    char small[9];
    EXPECT_EQ(qk42_last_error(line.get(), small, sizeof small), full.size());
    EXPECT_STREQ(small, "no reply");
    EXPECT_EQ(qk42_last_error(line.get(), nullptr, 0), full.size());
    char none[1] = {'x'};
    EXPECT_EQ(qk42_last_error(line.get(), none, 1), full.size());
    EXPECT_EQ(none[0], '\0');
}

struct Traced {
    std::vector<std::string> lines;
};

void QK42_CALL record(void* user, const unsigned char* request, size_t request_size,
                      const unsigned char* reply, size_t reply_size, size_t expected) {
    static_cast<Traced*>(user)->lines.push_back(hex(std::span(request, request_size)) + " -> " +
                                                hex(std::span(reply, reply_size)) + " (" +
                                                std::to_string(expected) + ")");
}

TEST(HostScripted, TheTraceSeesEveryExchangeAsItArrived) {
    ScriptedLine line;
    Traced traced;
    qk42_set_trace(line.get(), record, &traced);
    float flow = 0;
    int status = 0;
    line.port().script(hex("00 00 00 20 41"));
    qk42_read_flow(line.get(), 1, 2, &flow, &status);
    line.port().script(hex("02 00"));
    qk42_read_flow(line.get(), 2, 1, &flow, &status);
    qk42_set_unit(line.get(), 1, 1, 7);  // refused: no exchange, no trace
    qk42_set_trace(line.get(), nullptr, nullptr);
    line.port().script(hex("00 00 00 20 41"));
    qk42_read_flow(line.get(), 1, 2, &flow, &status);
    EXPECT_EQ(traced.lines,
              (std::vector<std::string>{"83 01 -> 00 00 00 20 41 (5)", "93 00 -> 02 00 (5)"}));
}

}  // namespace
}  // namespace qk42rt::testing
