// The Telnet layer of an RFC 2217 line, byte for byte: data with 0xFF, commands split across
// reads, which options are accepted and which refused, and subnegotiations.
#include "port/telnet_codec.h"

#include <gtest/gtest.h>

#include "support/scripted_port.h"

namespace qk42rt::telnet {
namespace {

using testing::hex;

// Decodes `raw` in pieces of `piece` bytes; returns the data as hex.
std::string decode_in_pieces(Decoder& decoder, const std::string& raw_hex, std::size_t piece) {
    auto raw = hex(raw_hex);
    std::vector<std::uint8_t> data;
    for (std::size_t at = 0; at < raw.size(); at += piece) {
        const std::size_t n = std::min(piece, raw.size() - at);
        std::span<std::uint8_t> part(raw.data() + at, n);
        const std::size_t got = decoder.decode(part);
        data.insert(data.end(), part.begin(), part.begin() + static_cast<long>(got));
    }
    return hex(data);
}

struct Stream {
    const char* what;
    const char* raw;
    const char* data;
    const char* answers;
};

TEST(TelnetDecoder, SplitsDataFromCommandsWhereverTheReadsEnd) {
    const Stream cases[] = {
        {"plain data", "83 01 00 20 41", "83 01 00 20 41", ""},
        {"doubled 0xFF is one data byte", "02 FF FF 00 80 3F", "02 FF 00 80 3F", ""},
        {"NOP and GA vanish", "01 FF F1 02 FF F9 03", "01 02 03", ""},
        {"purge answer between reply bytes", "0E FF FA 2C 70 01 FF F0", "0E", ""},
        {"escaped 0xFF inside a subnegotiation", "FF FA 2C 65 00 FF FF 00 00 FF F0 2A", "2A", ""},
        {"echo and suppress-go-ahead refused", "FF FB 01 FF FD 03 55", "55", "FF FE 01 FF FC 03"},
        {"binary and com port accepted", "FF FB 00 FF FD 00 FF FD 2C", "",
         "FF FD 00 FF FB 00 FF FB 2C"},
        {"a request repeated is not answered twice", "FF FB 00 FF FB 00", "", "FF FD 00"},
        {"WONT for an option never on: silence", "FF FC 05 FF FE 05", "", ""},
    };
    for (const Stream& c : cases) {
        for (std::size_t piece : {1, 2, 3, 64}) {
            SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(piece));
            Decoder decoder;
            EXPECT_EQ(decode_in_pieces(decoder, c.raw, piece), c.data);
            EXPECT_EQ(hex(decoder.take_answers()), c.answers);
        }
    }
}

TEST(TelnetDecoder, OpeningRequestsAreAcknowledgedWithoutEcho) {
    Decoder decoder;
    EXPECT_EQ(hex(decoder.opening_requests()), "FF FB 2C FF FB 00 FF FD 00");
    EXPECT_FALSE(decoder.we_will(kComPort));
    decode_in_pieces(decoder, "FF FD 2C FF FD 00 FF FB 00", 64);
    EXPECT_EQ(hex(decoder.take_answers()), "") << "answers to our own requests need no reply";
    EXPECT_TRUE(decoder.we_will(kComPort));
    EXPECT_TRUE(decoder.we_will(kBinary));
    EXPECT_TRUE(decoder.server_will(kBinary));
    EXPECT_FALSE(decoder.refused(kComPort));
}

TEST(TelnetDecoder, ARefusalOfWhatWeAskedForIsNoted) {
    Decoder decoder;
    decoder.opening_requests();
    decode_in_pieces(decoder, "FF FE 2C FF FC 00", 64);
    EXPECT_TRUE(decoder.refused(kComPort));
    EXPECT_TRUE(decoder.refused(kBinary));
    EXPECT_FALSE(decoder.we_will(kComPort));
    EXPECT_EQ(hex(decoder.take_answers()), "");
}

TEST(TelnetDecoder, CollectsSubnegotiationsUnescaped) {
    Decoder decoder;
    decode_in_pieces(decoder, "FF FA 2C 65 00 00 25 80 FF F0 FF FA 2C 6B FF FF FF F0", 2);
    const auto subs = decoder.take_subnegotiations();
    ASSERT_EQ(subs.size(), 2u);
    EXPECT_EQ(subs[0].option, kComPort);
    EXPECT_EQ(hex(subs[0].payload), "65 00 00 25 80");
    EXPECT_EQ(hex(subs[1].payload), "6B FF");
    EXPECT_TRUE(decoder.take_subnegotiations().empty());
}

TEST(TelnetEncoding, DoublesEveryFF) {
    std::vector<std::uint8_t> out;
    escape(hex("8F 01 04 00 00 48 42 FF"), out);
    EXPECT_EQ(hex(out), "8F 01 04 00 00 48 42 FF FF");
    EXPECT_EQ(hex(subnegotiation(kComPort, hex("01 00 00 25 80"))),
              "FF FA 2C 01 00 00 25 80 FF F0");
    EXPECT_EQ(hex(subnegotiation(kComPort, hex("0B FF"))), "FF FA 2C 0B FF FF FF F0");
}

}  // namespace
}  // namespace qk42rt::telnet
