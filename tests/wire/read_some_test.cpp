// Port::read_some, which relays use: back with whatever has arrived as soon as a byte is in,
// never before the limit when nothing is, and at once when the line has gone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <thread>

#include "port/open_port.h"
#include "pty_master.h"
#include "support/loopback_server.h"

namespace qk42rt {
namespace {

using namespace std::chrono;
using Clock = steady_clock;

double ms_since(Clock::time_point start) {
    return duration<double, std::milli>(Clock::now() - start).count();
}

// One line as the test drives it: `send` puts bytes on it from the far end, `drop` ends it.
struct Line {
    std::unique_ptr<Port> port;
    std::function<void(std::vector<std::uint8_t>)> send;
    std::function<void()> drop;
};

void check_read_some(Line& line) {
    std::array<std::uint8_t, 16> buffer{};
    auto start = Clock::now();
    EXPECT_EQ(line.port->read_some(buffer, milliseconds(60)), 0u);
    EXPECT_GE(ms_since(start), 60.0);  // never early
    EXPECT_FALSE(line.port->hung_up());

    line.send({0x31, 0x2E, 0x32});
    start = Clock::now();
    std::size_t got = 0;
    while (got < 3 && ms_since(start) < 2000) {
        got += line.port->read_some(std::span(buffer).subspan(got), milliseconds(2000));
    }
    EXPECT_EQ(got, 3u);
    EXPECT_LT(ms_since(start), 1500.0);  // back with the bytes, not at the limit
    EXPECT_EQ(buffer[0], 0x31);
    EXPECT_EQ(buffer[2], 0x32);

    line.drop();
    start = Clock::now();
    while (line.port->read_some(buffer, milliseconds(2000)) > 0 && ms_since(start) < 2000) {
    }
    EXPECT_TRUE(line.port->hung_up());
    EXPECT_LT(ms_since(start), 1500.0);
}

TEST(ReadSome, OnAPseudoTerminal) {
    auto master = std::make_unique<PtyMaster>(PtyMaster::open());
    OpenResult opened = open_serial_device(master->slave_path());
    ASSERT_EQ(opened.status, OpenStatus::opened) << opened.reason;
    Line line{std::move(opened.port),
              [&master](std::vector<std::uint8_t> bytes) { master->write_all(bytes); },
              [&master] { master.reset(); }};  // closing the master hangs the line up
    check_read_some(line);
}

TEST(ReadSome, OverTcp) {
    std::atomic<int> connection{-1};
    std::atomic<bool> dropped{false};
    testing::LoopbackServer server([&](int fd) {
        connection = fd;
        while (!dropped) std::this_thread::sleep_for(milliseconds(5));
    });
    OpenResult opened = open_device("tcp://127.0.0.1:" + std::to_string(server.port()));
    ASSERT_EQ(opened.status, OpenStatus::opened) << opened.reason;
    const auto start = Clock::now();
    while (connection < 0 && ms_since(start) < 2000) std::this_thread::sleep_for(milliseconds(1));
    Line line{std::move(opened.port),
              [&](std::vector<std::uint8_t> bytes) { testing::write_bytes(connection, bytes); },
              [&] { dropped = true; }};
    check_read_some(line);
}

}  // namespace
}  // namespace qk42rt
