// Lines to device servers played by the test on loopback: a server that drops the connection
// in the middle of an exchange, one that accepts nothing, a refused connection, and an RFC 2217
// server whose every byte is checked.
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "commands/commands.h"
#include "port/open_port.h"
#include "port/rfc2217_line.h"
#include "support/loopback_server.h"
#include "support/scripted_port.h"
#include "support/ser2net.h"

namespace qk42rt {
namespace {

using namespace std::chrono_literals;
using testing::hex;
using testing::LoopbackServer;
using testing::read_bytes;
using testing::write_bytes;
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string tcp_url(std::uint16_t port) {
    return "tcp://127.0.0.1:" + std::to_string(port);
}

TEST(DeviceServer, DroppedMidExchangeFailsAtOnceLaterCallsTooAndReopeningWorks) {
    std::atomic<int> connections{0};
    LoopbackServer server([&](int connection) {
        // The first connection is dropped once the request is in; later ones are answered.
        const bool drop = connections++ == 0;
        for (;;) {
            const auto request = read_bytes(connection, 2, 2s);
            if (request.size() < 2 || drop) return;
            write_bytes(connection, hex("00 00 00 20 41"));  // status 0, 10.0
        }
    });
    OpenResult opened = open_device(tcp_url(server.port()));
    ASSERT_EQ(opened.status, OpenStatus::opened) << opened.reason;
    protocol::Line line(opened.port.get());

    auto start = Clock::now();
    auto outcome = commands::read_flow(line, 1, 1);
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error().why, Failure::line_closed);
    EXPECT_LT(ms_since(start), 500.0) << "the call in flight ends when the server hangs up";
    EXPECT_EQ(describe(outcome.error()),
              "line closed (hung up or connection dropped): 0 of 5 bytes");

    start = Clock::now();
    outcome = commands::read_flow(line, 1, 1);
    EXPECT_EQ(outcome.error().why, Failure::line_closed);
    EXPECT_LT(ms_since(start), 50.0) << "later calls fail at once";

    OpenResult again = open_device(tcp_url(server.port()));
    ASSERT_EQ(again.status, OpenStatus::opened) << again.reason;
    protocol::Line reopened(again.port.get());
    const auto reading = commands::read_flow(reopened, 1, 1);
    ASSERT_TRUE(reading.ok()) << describe(reading.error());
    EXPECT_EQ(reading.value().value, 10.0f);
}

TEST(DeviceServer, AServerThatAcceptsNothingTimesOutAfterThreeSeconds) {
    LoopbackServer deaf(nullptr, /*fill_backlog=*/true);
    for (const std::string scheme : {"tcp://", "rfc2217://"}) {
        SCOPED_TRACE(scheme);
        const auto start = Clock::now();
        const OpenResult opened = open_device(scheme + "127.0.0.1:" + std::to_string(deaf.port()));
        const double took = ms_since(start);
        EXPECT_EQ(opened.status, OpenStatus::cannot_open);
        EXPECT_EQ(opened.reason, "timed out");
        EXPECT_GE(took, 3000.0);
        EXPECT_LT(took, 4500.0);
    }
}

TEST(DeviceServer, ARefusedConnectionSaysSoAtOnce) {
    const std::uint16_t nobody = testing::free_loopback_port();
    for (const std::string scheme : {"tcp://", "rfc2217://"}) {
        SCOPED_TRACE(scheme);
        const auto start = Clock::now();
        const OpenResult opened = open_device(scheme + "127.0.0.1:" + std::to_string(nobody));
        EXPECT_EQ(opened.status, OpenStatus::cannot_open);
        EXPECT_EQ(opened.reason, "connection refused");
        EXPECT_LT(ms_since(start), 1000.0);
    }
}

// A name goes to the resolver on a thread of its own, an address does not; several threads
// opening at once each get their own answer, and a name nobody knows is refused with a reason
// within the connect limit.
TEST(DeviceServer, NamesAndAddressesOpenFromSeveralThreadsAtOnce) {
    LoopbackServer server([](int connection) {
        while (read_bytes(connection, 2, 2s).size() == 2) {
            write_bytes(connection, hex("00 00 00 20 41"));  // status 0, 10.0
        }
    });
    const std::string port = std::to_string(server.port());
    std::vector<std::string> failures(4);
    std::vector<std::thread> openers;
    for (std::size_t i = 0; i < failures.size(); ++i) {
        openers.emplace_back([&, i] {
            const std::string device = (i % 2 ? "tcp://localhost:" : "tcp://127.0.0.1:") + port;
            const OpenResult opened = open_device(device);
            if (opened.status != OpenStatus::opened) {
                failures[i] = device + ": " + opened.reason;
                return;
            }
            protocol::Line line(opened.port.get());
            const auto reading = commands::read_flow(line, 1, 1);
            if (!reading.ok()) failures[i] = device + ": " + describe(reading.error());
        });
    }
    for (auto& opener : openers) opener.join();
    for (const auto& failure : failures) EXPECT_EQ(failure, "");

    const auto start = Clock::now();
    const OpenResult unknown = open_device("tcp://no-such-host.invalid:" + port);
    EXPECT_EQ(unknown.status, OpenStatus::cannot_open);
    EXPECT_FALSE(unknown.reason.empty());
    EXPECT_LT(ms_since(start), 3500.0) << unknown.reason;
}

// What the library sends to open an RFC 2217 line, in order: its own option requests, the two
// refusals of what the server offered beyond them, then the settings.
const char* const kOpening = "FF FB 2C FF FB 00 FF FD 00";
const char* const kRefusals = "FF FE 01 FF FC 03";
const char* const kSettings =
    "FF FA 2C 0A 00 FF F0 FF FA 2C 0B 00 FF F0 FF FA 2C 05 09 FF F0 FF FA 2C 05 0C FF F0 "
    "FF FA 2C 01 00 00 25 80 FF F0 FF FA 2C 02 08 FF F0 FF FA 2C 03 01 FF F0 "
    "FF FA 2C 04 01 FF F0 FF FA 2C 05 01 FF F0 FF FA 2C 05 0E FF F0";
const char* const kServerOffers = "FF FD 2C FF FB 00 FF FD 00 FF FB 01 FF FD 03";

std::size_t byte_count(const char* hex_text) {
    return hex(hex_text).size();
}

// The server's answer to each setting: code + 100 and the value it set.
std::string answers(const std::string& baud_bytes) {
    return "FF FA 2C 6A 00 FF F0 FF FA 2C 6B 00 FF F0 FF FA 2C 69 09 FF F0 FF FA 2C 69 0C FF F0 "
           "FF FA 2C 65 " +
           baud_bytes +
           " FF F0 FF FA 2C 66 08 FF F0 FF FA 2C 67 01 FF F0 "
           "FF FA 2C 68 01 FF F0 FF FA 2C 69 01 FF F0 FF FA 2C 69 0E FF F0";
}

TEST(Rfc2217Server, NegotiatesThenEscapesAndPurgesEveryExchangeByteForByte) {
    std::vector<std::string> seen;  // what the server received, step by step
    LoopbackServer server([&](int connection) {
        write_bytes(connection, hex(kServerOffers));
        seen.push_back(
            hex(read_bytes(connection, byte_count(kOpening) + byte_count(kRefusals), 2s)));
        seen.push_back(hex(read_bytes(connection, byte_count(kSettings), 2s)));
        write_bytes(connection, hex(answers("00 00 25 80")));
        // set maximum flow with code -1: its last byte is 0xFF and travels doubled.
        const char* purge = "FF FA 2C 0C 01 FF F0";
        seen.push_back(hex(read_bytes(connection, byte_count(purge) + 9, 2s)));
        write_bytes(connection, hex("FF FA 2C 70 01 FF F0 0F"));
        seen.push_back(hex(read_bytes(connection, byte_count(purge) + 2, 2s)));
        write_bytes(connection, hex("FF FA 2C 70 01 FF F0 02 FF FF 00 80 3F"));
        read_bytes(connection, 1, 2s);  // until the library closes
    });
    OpenResult opened = open_device("rfc2217://127.0.0.1:" + std::to_string(server.port()));
    ASSERT_EQ(opened.status, OpenStatus::opened) << opened.reason;
    const auto& settings = static_cast<Rfc2217Line&>(*opened.port).server_settings();
    EXPECT_EQ(settings.baud_rate, 9600u);
    EXPECT_EQ(settings.dtr, com_port::kDtrOff);
    EXPECT_EQ(settings.rts, com_port::kRtsOff);

    protocol::Line line(opened.port.get());
    const auto set = commands::set_maxflow(line, 1, 2, 100.0f, -1);
    EXPECT_TRUE(set.ok()) << describe(set.error());
    const auto flow = commands::read_flow(line, 1, 1);
    ASSERT_TRUE(flow.ok()) << describe(flow.error());
    EXPECT_EQ(flow.value().status, 2);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(flow.value().value), 0x3F8000FFu);
    opened.port.reset();

    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0], hex(hex(std::string(kOpening) + " " + kRefusals)));
    EXPECT_EQ(seen[1], hex(hex(kSettings)));
    EXPECT_EQ(seen[2], "FF FA 2C 0C 01 FF F0 8F 01 04 00 00 48 42 FF FF");
    EXPECT_EQ(seen[3], "FF FA 2C 0C 01 FF F0 83 00");
}

struct Refusal {
    const char* what;
    const char* server_says;  // after reading the opening requests
    bool answer_settings;
    const char* baud_bytes;
    const char* reason;
};

TEST(Rfc2217Server, SettingsNotConfirmedLeaveTheLineClosedWithTheReason) {
    const Refusal cases[] = {
        {"com port option refused", "FF FE 2C", false, "", "refuses the COM-PORT-OPTION"},
        {"binary refused", "FF FD 2C FF FC 00", false, "", "refuses binary transmission"},
        {"another baud rate", "FF FD 2C FF FB 00 FF FD 00", true, "00 00 12 C0",
         "the server set baud rate 4800 instead of 9600"},
        {"no answer at all (a raw server)", "", false, "", "timed out waiting for the server's"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        LoopbackServer server([&](int connection) {
            read_bytes(connection, byte_count(kOpening), 2s);
            write_bytes(connection, hex(c.server_says));
            if (c.answer_settings) {
                read_bytes(connection, byte_count(kSettings), 2s);
                write_bytes(connection, hex(answers(c.baud_bytes)));
            }
            read_bytes(connection, 1, 4s);
        });
        const auto start = Clock::now();
        const OpenResult opened =
            open_device("rfc2217://127.0.0.1:" + std::to_string(server.port()));
        EXPECT_EQ(opened.status, OpenStatus::settings_refused);
        EXPECT_EQ(opened.port, nullptr);
        EXPECT_NE(opened.reason.find(c.reason), std::string::npos) << opened.reason;
        EXPECT_LT(ms_since(start), 4000.0);
    }
}

}  // namespace
}  // namespace qk42rt
