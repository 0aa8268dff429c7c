// A simulator with the library's held port on a line to it: the test port pointed at its
// pseudo-terminal, or a device-server line (its own TCP listener, or ser2net in front of its
// pseudo-terminal, raw or RFC 2217) adopted as the held port.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "port/held_port.h"
#include "port/open_port.h"
#include "qk42rt.h"
#include "simulator.h"
#include "support/port_map.h"
#include "support/ser2net.h"

namespace qk42rt::sim {

// Polls until `done` holds or `timeout_ms` passes; true when it holds.
inline bool eventually(const std::function<bool()>& done, int timeout_ms = 2000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Every output any exported call may write, starting from values no reply produces.
// Compared bit for bit, so that a NaN written by a call counts as a change.
struct Outputs {
    float value = -7.0f;
    int a = -7, b = -7, c = -7, d = -7;
    std::uint32_t word = 0xEEEEEEEE;  // the 4 bytes of the integrated flow or time
    bool operator==(const Outputs& o) const {
        return std::memcmp(&value, &o.value, sizeof value) == 0 && a == o.a && b == o.b &&
               c == o.c && d == o.d && word == o.word;
    }
};

// Options for a test: immediate flow response, then whatever `change` sets.
inline Options test_options(const std::function<void(Options&)>& change = {}) {
    Options options;
    options.time_constant_s = 0.0;
    if (change) change(options);
    return options;
}

inline FaultRule fault(FaultKind kind, std::optional<std::uint8_t> code, int count = 1) {
    FaultRule rule;
    rule.kind = kind;
    rule.code = code;
    rule.count = count;
    return rule;
}

// Every kind of line the library reaches an instrument on.
enum class LineKind { pty, tcp, ser2net_raw, ser2net_rfc2217 };

inline const char* name_of(LineKind kind) {
    switch (kind) {
        case LineKind::pty:
            return "pty";
        case LineKind::tcp:
            return "tcp";
        case LineKind::ser2net_raw:
            return "ser2net_raw";
        case LineKind::ser2net_rfc2217:
            return "ser2net_rfc2217";
    }
    return "?";
}

class SimulatedLine : public ::testing::Test {
  protected:
    void start(Options options = test_options(), LineKind kind = LineKind::pty) {
        if (kind == LineKind::tcp) options.tcp_listen = "127.0.0.1:0";
        sim = std::make_unique<Simulator>(std::move(options));
        switch (kind) {
            case LineKind::pty:
                testing::map_port(testing::kTestPort, sim->slave_path());
                ASSERT_EQ(QK42RT_InitPort(testing::kTestPort), 1);
                return;
            case LineKind::tcp:
                url = "tcp://" + sim->tcp_address();
                break;
            case LineKind::ser2net_raw:
            case LineKind::ser2net_rfc2217:
                ser2net = std::make_unique<testing::Ser2net>(sim->slave_path(),
                                                             kind == LineKind::ser2net_raw
                                                                 ? testing::Ser2net::Mode::raw
                                                                 : testing::Ser2net::Mode::rfc2217);
                url = ser2net->url();
                break;
        }
        OpenResult opened = open_device(url);
        ASSERT_EQ(opened.status, OpenStatus::opened) << url << ": " << opened.reason;
        held_port::adopt(std::move(opened.port));
    }
    void TearDown() override {
        QK42RT_ClosePort();
        testing::unmap_ports();
    }

    std::unique_ptr<Simulator> sim;
    std::unique_ptr<testing::Ser2net> ser2net;
    std::string url;  // the device string of a network line
};

}  // namespace qk42rt::sim
