// A simulator on a pseudo-terminal with the library's test port pointed at it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "qk42rt.h"
#include "simulator.h"
#include "support/port_map.h"

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

class SimulatedLine : public ::testing::Test {
  protected:
    void start(Options options = test_options()) {
        sim = std::make_unique<Simulator>(std::move(options));
        testing::map_port(testing::kTestPort, sim->slave_path());
        ASSERT_EQ(QK42RT_InitPort(testing::kTestPort), 1);
    }
    void TearDown() override {
        QK42RT_ClosePort();
        testing::unmap_ports();
    }

    std::unique_ptr<Simulator> sim;
};

}  // namespace qk42rt::sim
