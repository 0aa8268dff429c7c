// The simulator's end of the pseudo-terminal: hosts opening and hanging up, raw bytes from a
// host that sets nothing, noise on the line, and the transcript.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <mutex>
#include <vector>

#include "sim_fixture.h"

namespace qk42rt::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Reads up to `n` bytes within `timeout_ms`.
Bytes read_some(int fd, std::size_t n, int timeout_ms = 1000) {
    Bytes got;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        std::uint8_t byte = 0;
        if (::read(fd, &byte, 1) != 1) break;
        got.push_back(byte);
    }
    return got;
}

TEST(SimulatorLine, CountsHostsOpeningAndHangingUp) {
    std::vector<std::string> events;
    std::mutex mutex;
    Simulator sim(test_options([&](Options& o) {
        o.on_event = [&](const std::string& e) {
            std::lock_guard lock(mutex);
            events.push_back(e);
        };
    }));
    for (std::uint64_t round = 1; round <= 2; ++round) {
        const int fd = ::open(sim.slave_path().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(eventually([&] { return sim.counters().opens == round; }));
        ::close(fd);
        ASSERT_TRUE(sim.wait_for_hangups(round, 2000));
    }
    std::lock_guard lock(mutex);
    EXPECT_EQ(events, (std::vector<std::string>{"line opened", "line hung up", "line opened",
                                                "line hung up"}));
}

TEST(SimulatorLine, RawBytesForAHostThatSetsNothingAndFramingRecovers) {
    std::vector<std::string> transcript;
    std::mutex mutex;
    Simulator sim(test_options([&](Options& o) {
        o.transcript = [&](const std::string& line) {
            std::lock_guard lock(mutex);
            transcript.push_back(line);
        };
    }));
    // No termios calls: the slave must already be raw (no echo, CR and 0x0A untouched).
    const int fd = ::open(sim.slave_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    // Noise, a truncated set-setpoint, then a channel-4 unit read (channel byte 0x03).
    const Bytes stream{0x0D, 0x0A, 0x8E, 0x00, 0x04, 0x82, 0x03};
    ASSERT_EQ(::write(fd, stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));
    EXPECT_EQ(read_some(fd, 2, 300), Bytes{0x00}) << "one reply byte, no echo";
    EXPECT_EQ(sim.counters().dropped, 5u);
    EXPECT_EQ(sim.counters().requests, 1u);

    sim.send_noise({0x13, 0x11, 0x0D});
    EXPECT_EQ(read_some(fd, 3), (Bytes{0x13, 0x11, 0x0D})) << "no flow control, no CR mapping";
    ::close(fd);

    std::lock_guard lock(mutex);
    const auto has = [&](const std::string& tail) {
        for (const auto& line : transcript) {
            if (line.size() >= tail.size() &&
                line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
                return true;
        }
        return false;
    };
    EXPECT_TRUE(has("drop 0D 0A 8E 00 04"));
    EXPECT_TRUE(has("rx 82 03"));
    EXPECT_TRUE(has("tx 00"));
    EXPECT_TRUE(has("noise 13 11 0D"));
}

TEST(SimulatorLine, PacedRepliesTakeTheirLineTime) {
    Simulator sim(test_options([](Options& o) {
        o.pace_9600 = true;
        o.turnaround_ms = 20;
    }));
    const int fd = ::open(sim.slave_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const Bytes version{0x80, 0x00};
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_EQ(::write(fd, version.data(), 2), 2);
    EXPECT_EQ(read_some(fd, 6).size(), 6u);
    const auto took = std::chrono::steady_clock::now() - sent;
    EXPECT_GE(took, std::chrono::microseconds(20000 + 5 * 1042));
    ::close(fd);
}

TEST(SimulatorLine, RefusesOptionsItCannotSimulate) {
    const std::function<void(Options&)> refused[] = {
        [](Options& o) { o.addresses = {0}; },
        [](Options& o) { o.addresses = {9}; },
        [](Options& o) { o.addresses.clear(); },
        [](Options& o) { o.time_constant_s = -1.0; },
        [](Options& o) { o.noise = std::numeric_limits<double>::quiet_NaN(); },
        [](Options& o) { o.turnaround_ms = -5; },
    };
    for (const auto& change : refused) {
        EXPECT_THROW(Simulator{test_options(change)}, std::invalid_argument);
    }
}

}  // namespace
}  // namespace qk42rt::sim
