// libqk42 against the simulated instrument on a pseudo-terminal and over TCP: every function
// end to end, the statuses that only a real line gives (closed, cannot open, settings
// refused), the reply time-out, and two lines used at once from several threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "qk42.h"
#include "simulator.h"
#include "support/ser2net.h"

namespace qk42rt::testing {
namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string open_error() {
    char text[256];
    qk42_last_error(nullptr, text, sizeof text);
    return text;
}

std::string line_error(qk42_line* line) {
    char text[256];
    qk42_last_error(line, text, sizeof text);
    return text;
}

sim::Options instant(bool tcp) {
    sim::Options options;
    options.time_constant_s = 0.0;
    if (tcp) options.tcp_listen = "127.0.0.1:0";
    return options;
}

// A line to a fresh simulator, closed at the end.
class HostLine : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        sim = std::make_unique<sim::Simulator>(instant(GetParam()));
        device = GetParam() ? "tcp://" + sim->tcp_address() : sim->slave_path();
        ASSERT_EQ(qk42_open(device.c_str(), &line), QK42_OK) << open_error();
        ASSERT_NE(line, nullptr);
    }
    void TearDown() override { qk42_close(line); }

    std::unique_ptr<sim::Simulator> sim;
    std::string device;
    qk42_line* line = nullptr;
};

TEST_P(HostLine, EveryFunctionEndToEnd) {
    ASSERT_EQ(qk42_set_unit(line, 1, 3, 4), QK42_OK);
    int unit = 0;
    ASSERT_EQ(qk42_read_unit(line, 1, 3, &unit), QK42_OK);
    EXPECT_EQ(unit, 4);
    ASSERT_EQ(qk42_set_on_off(line, 1, 0x01), QK42_OK);
    int state = -1;
    ASSERT_EQ(qk42_read_on_off(line, 1, &state), QK42_OK);
    EXPECT_EQ(state, 1);
    ASSERT_EQ(qk42_set_setpoint(line, 1, 1, 12.5f), QK42_OK);
    float value = 0;
    int status = -1;
    ASSERT_EQ(qk42_read_setpoint(line, 1, 1, &value, &status), QK42_OK);
    EXPECT_EQ(value, 12.5f);
    ASSERT_EQ(qk42_read_flow(line, 1, 1, &value, &status), QK42_OK);
    EXPECT_EQ(value, 12.5f) << "an open channel follows its setpoint at once here";
    ASSERT_EQ(qk42_set_maxflow(line, 1, 8, 250.0f, 3), QK42_OK);
    ASSERT_EQ(qk42_read_maxflow(line, 1, 8, &value, &status), QK42_OK);
    EXPECT_EQ(value, 250.0f);
    EXPECT_EQ(sim->state(1).channels[7].maxflow_code, 3);
    ASSERT_EQ(qk42_int_control(line, 1, 0x01), QK42_OK);
    EXPECT_TRUE(sim->state(1).integrating);
    sim->update(1, [](sim::InstrumentState& s) {
        s.inttime = 0x04030201;
        s.channels[5].intflow = 0xA0B0C0D0;
    });
    unsigned char bytes[4] = {};
    ASSERT_EQ(qk42_read_inttime(line, 1, bytes), QK42_OK);
    EXPECT_GE(bytes[0], 0x01);  // still counting
    ASSERT_EQ(qk42_int_control(line, 1, 0x02), QK42_OK);
    ASSERT_EQ(qk42_read_intflow(line, 1, 6, bytes), QK42_OK);
    EXPECT_EQ(bytes[3], 0xA0);
    ASSERT_EQ(qk42_set_ratio_total(line, 1, 2, 165, 3, 4), QK42_OK);
    int channel = 0, ratio = 0, channel2 = 0, channel3 = 0;
    ASSERT_EQ(qk42_read_ratio_total(line, 1, &channel, &ratio, &channel2, &channel3), QK42_OK);
    EXPECT_EQ(channel, 2);
    EXPECT_EQ(ratio, 165);
    EXPECT_EQ(channel2, 3);
    EXPECT_EQ(channel3, 4);
    ASSERT_EQ(qk42_control_ratio_total(line, 1, 2), QK42_OK);
    EXPECT_EQ(sim->state(1).ratio_mode, 2);
    char text[4];
    int kind = -1, info1 = -1, info2 = -1;
    ASSERT_EQ(qk42_read_version(line, 1, text, &value, &kind, &info1, &info2), QK42_OK);
    EXPECT_STREQ(text, "1.2");
    EXPECT_EQ(value, 1.2f);
    EXPECT_EQ(kind, 1);
    EXPECT_EQ(info1, 8);
    EXPECT_EQ(info2, 1);
    ASSERT_EQ(qk42_set_display(line, 1, 0, 1), QK42_OK);
    ASSERT_EQ(qk42_set_key_lock(line, 1, 1), QK42_OK);
    EXPECT_TRUE(sim->state(1).display_flag2);
    EXPECT_TRUE(sim->state(1).key_locked);
}

TEST_P(HostLine, ALineThatGoesAwayIsClosedAndFailsAtOnceAfter) {
    sim::FaultRule hang_up;
    hang_up.kind = sim::FaultKind::hang_up;
    hang_up.count = 1;
    sim->add_fault(hang_up);
    float flow = -7;
    int status = -7;
    EXPECT_EQ(qk42_read_flow(line, 1, 1, &flow, &status), QK42_LINE_CLOSED);
    EXPECT_EQ(flow, -7);
    EXPECT_NE(line_error(line).find("line closed"), std::string::npos) << line_error(line);
    const auto start = Clock::now();
    EXPECT_EQ(qk42_read_flow(line, 1, 1, &flow, &status), QK42_LINE_CLOSED);
    EXPECT_LT(ms_since(start), 100.0);
}

TEST_P(HostLine, TheReplyTimeOutIsThisLinesOwn) {
    sim::FaultRule silence;
    silence.kind = sim::FaultKind::no_reply;
    sim->add_fault(silence);
    ASSERT_EQ(qk42_set_reply_timeout(line, 120), QK42_OK);
    float flow = 0;
    int status = 0;
    const auto start = Clock::now();
    EXPECT_EQ(qk42_read_flow(line, 1, 1, &flow, &status), QK42_NO_REPLY);
    const double took = ms_since(start);
    EXPECT_GE(took, 120.0);
    EXPECT_LT(took, 450.0);
    EXPECT_EQ(line_error(line), "no reply: 0 of 5 bytes within 120 ms");
}

INSTANTIATE_TEST_SUITE_P(PtyAndTcp, HostLine, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "tcp" : "pty"; });

struct Unopenable {
    const char* device;
    qk42_status status;
    const char* says;
};

TEST(HostOpen, WhatCannotBeOpenedSaysWhy) {
    const std::string refused = "tcp://127.0.0.1:" + std::to_string(free_loopback_port());
    const Unopenable cases[] = {
        {"/nonexistent/ttyUSB9", QK42_CANNOT_OPEN,
         "cannot open /nonexistent/ttyUSB9: no such device"},
        {refused.c_str(), QK42_CANNOT_OPEN, "connection refused"},
        {"/dev/null", QK42_SETTINGS_REFUSED, "cannot use /dev/null: it opened but refused"},
        {"tcp://host", QK42_BAD_ARGUMENT, "bad device \"tcp://host\": expected HOST:PORT"},
        {"udp://host:1", QK42_BAD_ARGUMENT, "expected a device path, tcp://HOST:PORT"},
    };
    for (const Unopenable& c : cases) {
        SCOPED_TRACE(c.device);
        qk42_line* line = nullptr;
        EXPECT_EQ(qk42_open(c.device, &line), c.status);
        EXPECT_EQ(line, nullptr);
        EXPECT_NE(open_error().find(c.says), std::string::npos) << open_error();
    }
    sim::Simulator sim(instant(false));
    qk42_line* line = nullptr;
    ASSERT_EQ(qk42_open(sim.slave_path().c_str(), &line), QK42_OK);
    EXPECT_EQ(open_error(), "") << "a good open clears the thread's reason";
    qk42_line* second = nullptr;
    EXPECT_EQ(qk42_open(sim.slave_path().c_str(), &second), QK42_CANNOT_OPEN);
    EXPECT_NE(open_error().find("another program holds it"), std::string::npos) << open_error();
    qk42_close(line);
}

TEST(HostThreads, TwoLinesAtOnceFromSeveralThreadsNeverCrossValues) {
    sim::Simulator a(instant(false));
    sim::Simulator b(instant(true));
    for (int channel = 0; channel < 8; ++channel) {
        a.update(1,
                 [&](sim::InstrumentState& s) { s.channels[channel].setpoint = 100.0f + channel; });
        b.update(1,
                 [&](sim::InstrumentState& s) { s.channels[channel].setpoint = 200.0f + channel; });
    }
    qk42_line* lines[2] = {};
    ASSERT_EQ(qk42_open(a.slave_path().c_str(), &lines[0]), QK42_OK);
    ASSERT_EQ(qk42_open(("tcp://" + b.tcp_address()).c_str(), &lines[1]), QK42_OK);
    std::atomic<int> wrong{0}, failed{0}, calls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            qk42_line* line = lines[t % 2];
            const float base = t % 2 == 0 ? 100.0f : 200.0f;
            for (int i = 0; i < 150; ++i) {
                const int channel = (t + i) % 8 + 1;
                float setpoint = 0;
                int status = 0;
                if (qk42_read_setpoint(line, 1, channel, &setpoint, &status) != QK42_OK) {
                    ++failed;
                } else if (setpoint != base + static_cast<float>(channel - 1)) {
                    ++wrong;
                }
                ++calls;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(calls, 900);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(wrong, 0);
    qk42_close(lines[0]);
    qk42_close(lines[1]);
}

TEST(HostThreads, EachThreadReadsTheReasonOfItsOwnCallsOnASharedLine) {
    sim::Simulator sim(instant(false));
    qk42_line* line = nullptr;
    ASSERT_EQ(qk42_open(sim.slave_path().c_str(), &line), QK42_OK);
    std::atomic<int> mixed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                // Even threads fail with a refused unit, odd ones succeed: never mixed up.
                const qk42_status status = qk42_set_unit(line, 1, 1, t % 2 == 0 ? 9 : 2);
                const std::string reason = line_error(line);
                const bool ok = t % 2 == 0
                                    ? status == QK42_BAD_ARGUMENT &&
                                          reason == "bad argument: unit must be 1 to 4, not 9"
                                    : status == QK42_OK && reason.empty();
                if (!ok) ++mixed;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mixed, 0);
    qk42_close(line);
}

TEST(HostThreads, ACallWaitingOnOneLineDoesNotHoldUpAnother) {
    sim::Simulator slow(instant(false));
    sim::Simulator quick(instant(false));
    sim::FaultRule silence;
    silence.kind = sim::FaultKind::no_reply;
    slow.add_fault(silence);
    qk42_line* waiting = nullptr;
    qk42_line* answering = nullptr;
    ASSERT_EQ(qk42_open(slow.slave_path().c_str(), &waiting), QK42_OK);
    ASSERT_EQ(qk42_open(quick.slave_path().c_str(), &answering), QK42_OK);
    std::thread waiter([&] {
        float flow = 0;
        int status = 0;
        EXPECT_EQ(qk42_read_flow(waiting, 1, 1, &flow, &status), QK42_NO_REPLY);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the wait has begun
    const auto start = Clock::now();
    int state = 0;
    EXPECT_EQ(qk42_read_on_off(answering, 1, &state), QK42_OK);
    EXPECT_LT(ms_since(start), 300.0) << "the other line's 500 ms wait holds no lock here";
    waiter.join();
    qk42_close(waiting);
    qk42_close(answering);
}

}  // namespace
}  // namespace qk42rt::testing
