// `decode`'s reading of exchanges: every worked request and edge of the command set, both
// directions, and malformed input named for what it is.
#include "decode.h"

#include <gtest/gtest.h>

#include "recording.h"
#include "request_call.h"

namespace qk42rt::wire {
namespace {

struct Case {
    const char* what;
    const char* request;
    const char* reply;  // nullptr: the request alone
    const char* line;   // the decoded line, exactly
    bool valid;
};

Bytes bytes_of(const char* text) {
    std::string error;
    const auto bytes = parse_hex(text, error);
    EXPECT_TRUE(bytes) << error;
    return bytes.value_or(Bytes{});
}

void check(const Case& c) {
    SCOPED_TRACE(c.what);
    const std::optional<Bytes> reply =
        c.reply ? std::optional<Bytes>(bytes_of(c.reply)) : std::nullopt;
    const Decoded decoded = decode_exchange(bytes_of(c.request), reply);
    EXPECT_EQ(decoded_line(decoded), c.line);
    EXPECT_EQ(decoded.valid, c.valid);
    EXPECT_EQ(decoded.json["valid"], c.valid);
    EXPECT_EQ(decoded.json["text"], c.line);
}

TEST(Decode, WorkedRequestsAndTheirReplies) {
    const Case cases[] = {
        {"ReadFlow(3,5)", "A3 04", nullptr, "read flow  address 3  channel 5", true},
        {"SetSetpoint(1,1,1.0)", "8E 00 04 00 00 00 3F", "0E",
         "set setpoint  address 1  channel 1  1  -> acknowledged", true},
        {"SetSetpoint(2,3,-1.0)", "9E 02 0C 00 00 00 3F", "1E",
         "set setpoint  address 2  channel 3  -1  -> acknowledged", true},
        {"SetMaxflow(1,2,100.0,2)", "8F 01 04 00 00 48 42 02", "0F",
         "set maxflow  address 1  channel 2  100  code 2  -> acknowledged", true},
        {"SetUnit(1,1,3)", "81 00 02", "01", "set unit  address 1  channel 1  3  -> acknowledged",
         true},
        {"ReadFlow(1,1)", "83 00", "02 00 00 C8 42",
         "read flow  address 1  channel 1  -> status 2, flow 100", true},
        {"flow flagged invalid", "83 01", "0B 00 00 C8 42",
         "read flow  address 1  channel 2  -> status 3, flow -1 (flagged invalid; bytes say 100)",
         true},
        {"setpoint keeps its value with bit 3", "84 01", "0B 00 00 C8 42",
         "read setpoint  address 1  channel 2  -> status 3, setpoint 100", true},
        {"ReadMaxflow", "C5 07", "00 00 00 48 42",
         "read maxflow  address 5  channel 8  -> status 0, maxflow 50", true},
        {"ReadUnit", "82 03", "02", "read unit  address 1  channel 4  -> unit 3", true},
        {"ReadIntflow", "86 00", "01 02 03 04",
         "read intflow  address 1  channel 1  -> bytes 01 02 03 04, count 67305985", true},
        {"ReadInttime(2)", "97", nullptr, "read inttime  address 2", true},
        {"ReadInttime reply", "97", "10 00 00 00",
         "read inttime  address 2  -> bytes 10 00 00 00, count 16", true},
        {"IntControl(1,0x85)", "88 85", "08",
         "int control  address 1  0x85  -> acknowledged  note: control byte 0x85 has bit 7 set: "
         "the library sends it as given, but an instrument may take it for the start of a new "
         "request",
         true},
        {"SetRatioTotal(1,2,0xA5,3,4)", "8A 01 0A 05 23", "0A",
         "set ratio total  address 1  channel 2  value 165  channel2 3  channel3 4  -> "
         "acknowledged",
         true},
        {"ReadRatioTotal", "89", "01 A5 23",
         "read ratio total  address 1  -> channel 2, value 165, channel2 3, channel3 4", true},
        {"ControlRatioTotal(1,1)", "8D 01", "0D",
         "control ratio total  address 1  1  -> acknowledged", true},
        {"ControlRatioTotal(1,-1)", "8D FF", "0D",
         "control ratio total  address 1  -1  -> acknowledged  note: mode byte 0xFF has bit 7 "
         "set: the library sends it as given, but an instrument may take it for the start of a "
         "new request",
         true},
        {"SetOnOff(1,0x5A), any one byte", "8C 05 0A", "77",
         "set on off  address 1  0x5A  -> answered (not checked: 77)", true},
        {"ReadOnOff", "8B", "5A", "read on off  address 1  -> state 0x5A (90)", true},
        {"ReadVersion", "80 00", "31 2E 32 43 08 01",
         "read version  address 1  -> version 1.2, kind C, info 8 1", true},
        {"ReadVersion kind M", "80 00", "32 2E 30 4D 00 07",
         "read version  address 1  -> version 2, kind M, info 0 7", true},
        {"SetDisplay(1,1,0)", "80 06", "00 00 00 00 00",
         "set display  address 1  flag1 on  flag2 off  -> answered (not checked: 00 00 00 00 00)",
         true},
        {"SetKeyLock(3,1)", "A0 30", nullptr, "set key lock  address 3  on", true},
        {"SetKeyLock(8,0)", "F0 20", "00 00 00 00 00",
         "set key lock  address 8  off  -> answered (not checked: 00 00 00 00 00)", true},
        {"SetMaxflow code -1 travels as 0xFF", "8F 00 04 00 00 48 42 FF", "0F",
         "set maxflow  address 1  channel 1  100  code -1  -> acknowledged  note: code byte 0xFF "
         "has bit 7 set: the library sends it as given, but an instrument may take it for the "
         "start of a new request",
         true},
        {"negative zero setpoint", "8E 00 08 00 00 00 00", "0E",
         "set setpoint  address 1  channel 1  -0  -> acknowledged", true},
    };
    for (const Case& c : cases) check(c);
}

TEST(Decode, FailedRepliesAreTheLibrarysOwnJudgement) {
    const Case cases[] = {
        {"kind letter X", "80 00", "31 2E 32 58 08 01",
         "read version  address 1  -> failed: unknown kind letter 0x58 (neither 'M' nor 'C')",
         false},
        {"wrong acknowledge", "8E 00 04 00 00 00 3F", "4E",
         "set setpoint  address 1  channel 1  1  -> failed: wrong acknowledge: 0x4E instead of "
         "0x0E",
         false},
        {"short reply", "83 01", "00 00",
         "read flow  address 1  channel 2  -> failed: short reply: 2 of 5 bytes", false},
        {"no reply at all", "83 01", "",
         "read flow  address 1  channel 2  -> failed: no reply: 0 of 5 bytes within 500 ms", false},
        {"reply too long", "81 00 02", "01 55",
         "set unit  address 1  channel 1  3  -> acknowledged  !! reply too long: 2 bytes, set "
         "unit answers with 1; the library takes the first 1",
         false},
    };
    for (const Case& c : cases) check(c);
}

TEST(Decode, MalformedRequestsAreNamedNeverGuessed) {
    const Case cases[] = {
        {"data byte with bit 7", "83 85", "00 00 00 00 00",
         "not a request the library sends: 83 85  -> reply 00 00 00 00 00 not judged  !! data byte "
         "2 (0x85) has bit 7 set: an instrument takes it for a new request",
         false},
        {"cut short", "8E 00 04", nullptr,
         "not a request the library sends: 8E 00 04  !! set setpoint request cut short: 3 of 7 "
         "bytes",
         false},
        {"too long", "8B 00", nullptr,
         "not a request the library sends: 8B 00  !! read on off request too long: 2 bytes instead "
         "of 1",
         false},
        {"no header", "03 01", nullptr,
         "not a request the library sends: 03 01  !! first byte 0x03 is no header: bit 7, which "
         "starts every request, is clear",
         false},
        {"unknown system sub-code", "80 08", nullptr,
         "not a request the library sends: 80 08  !! unknown system sub-code 0x08 (the library "
         "sends 0x00, 0x04 to 0x07, 0x20 and 0x30)",
         false},
        {"channel byte beyond 7", "83 09", nullptr,
         "not a request the library sends: 83 09  !! channel byte 0x09 is outside 0x00 to 0x07",
         false},
        {"unit byte beyond 3", "81 00 05", nullptr,
         "not a request the library sends: 81 00 05  !! unit byte 0x05 is outside 0x00 to 0x03",
         false},
        {"on/off half beyond 4 bits", "8C 15 0A", nullptr,
         "not a request the library sends: 8C 15 0A  !! state byte 0x15 is outside 0x00 to 0x0F",
         false},
        {"ratio channels with bit 3", "8A 01 0A 05 28", nullptr,
         "not a request the library sends: 8A 01 0A 05 28  !! channels byte 0x28 has bit 3 or 7 "
         "set (two channels of 3 bits each)",
         false},
        {"ratio mode no remainder", "8D 03", nullptr,
         "not a request the library sends: 8D 03  !! mode byte 0x03 is no remainder of a division "
         "by 3",
         false},
        {"maxflow code no remainder", "8F 00 04 00 00 48 42 05", nullptr,
         "not a request the library sends: 8F 00 04 00 00 48 42 05  !! code byte 0x05 is no "
         "remainder of a division by 5",
         false},
        {"float high bits beyond 4", "8E 00 14 00 00 00 3F", nullptr,
         "not a request the library sends: 8E 00 14 00 00 00 3F  !! the float's high-bit byte "
         "0x14 is outside 0x00 to 0x0F",
         false},
        {"nothing", "", nullptr, "not a request the library sends:   !! no request bytes", false},
    };
    for (const Case& c : cases) check(c);
}

TEST(Decode, JsonCarriesTheOperationItsArgumentsAndTheResult) {
    const Decoded decoded = decode_exchange(bytes_of("83 01"), bytes_of("0B 00 00 C8 42"));
    const nlohmann::json& json = decoded.json;
    EXPECT_EQ(json["operation"], "read flow");
    EXPECT_EQ(json["function"], "QK42RT_ReadFlow");
    EXPECT_EQ(json["address"], 1);
    EXPECT_EQ(json["arguments"], (nlohmann::json{{"channel", 2}}));
    EXPECT_EQ(json["reencodes"], true);
    EXPECT_EQ(json["ok"], true);
    EXPECT_EQ(json["result"]["status"], 3);
    EXPECT_EQ(json["result"]["flow"], -1.0);
    EXPECT_EQ(json["result"]["bytes_say"], 100.0);
    EXPECT_EQ(json["reply"], "0B 00 00 C8 42");

    const Decoded alone = decode_exchange(bytes_of("8E 00 00 33 33 7B 41"), std::nullopt);
    EXPECT_EQ(alone.json["reply"], nullptr);
    EXPECT_EQ(alone.json["arguments"]["setpoint"], 15.7);  // the float's shortest text
    EXPECT_FALSE(alone.json.contains("ok"));
}

TEST(Decode, EveryRequestTheOperationsSendReadsBackToTheSameOperation) {
    // Every header byte with every second byte: whatever decodes must re-encode to itself.
    int decoded_count = 0;
    for (int header = 0x80; header <= 0xFF; ++header) {
        const auto code = protocol::code_of(static_cast<std::uint8_t>(header));
        Bytes request(protocol::request_length(code), 0x00);
        request[0] = static_cast<std::uint8_t>(header);
        for (int second = 0; second <= 0xFF; ++second) {
            if (request.size() > 1) request[1] = static_cast<std::uint8_t>(second);
            const ParsedRequest parsed = parse_request(request);
            const Decoded decoded = decode_exchange(request, std::nullopt);
            if (parsed.call) {
                ++decoded_count;
                EXPECT_EQ(decoded.json["reencodes"], true) << decoded_line(decoded);
            }
            if (request.size() == 1) break;
        }
    }
    EXPECT_GT(decoded_count, 1000);
}

struct HexCase {
    const char* text;
    std::optional<Bytes> bytes;
    const char* error;
};

TEST(Decode, HexAsUsersTypeIt) {
    const HexCase cases[] = {
        {"8E 00 04", Bytes{0x8E, 0x00, 0x04}, ""},    {"8e0004", Bytes{0x8E, 0x00, 0x04}, ""},
        {"0x8E,0x00", Bytes{0x8E, 0x00}, ""},         {"  ", Bytes{}, ""},
        {"8E 0", std::nullopt, "not hex bytes: '0'"}, {"zz", std::nullopt, "not hex bytes: 'zz'"},
        {"8E -", std::nullopt, "not hex bytes: '-'"},
    };
    for (const HexCase& c : cases) {
        std::string error;
        EXPECT_EQ(parse_hex(c.text, error), c.bytes) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

}  // namespace
}  // namespace qk42rt::wire
