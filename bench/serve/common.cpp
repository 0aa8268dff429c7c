#include <chrono>
#include <stdexcept>
#include <thread>

#include "clocks.h"
#include "qk42.h"
#include "serve_bench.h"

namespace qk42rt::bench {
namespace {

constexpr int kWarmUpCalls = 16;

}  // namespace

sim::Options instant_flows(bool paced) {
    sim::Options options;
    options.addresses = {1};
    options.time_constant_s = 0.0;
    options.pace_9600 = paced;
    return options;
}

float expected_flow(int channel) {
    return 10.0f * static_cast<float>(channel);
}

void set_flows(sim::Simulator& sim) {
    sim.update(1, [](sim::InstrumentState& state) {
        state.on_off = 0xFF;
        for (int channel = 1; channel <= 8; ++channel) {
            state.channels[channel - 1].setpoint = expected_flow(channel);
        }
    });
}

std::vector<double> direct_calls(sim::Simulator& sim, int calls, Faults& faults) {
    const std::uint64_t hangups = sim.counters().hangups;
    qk42_line* line = nullptr;
    if (qk42_open(sim.slave_path().c_str(), &line) != QK42_OK) {
        char reason[256];
        qk42_last_error(nullptr, reason, sizeof reason);
        throw std::runtime_error(std::string("qk42_open: ") + reason);
    }
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(calls));
    for (int i = -kWarmUpCalls; i < calls; ++i) {
        const int channel = (i + kWarmUpCalls) % 8 + 1;
        float flow = 0.0f;
        int status = 0;
        const double start = wall_us();
        const qk42_status result = qk42_read_flow(line, 1, channel, &flow, &status);
        const double took = wall_us() - start;
        if (result != QK42_OK || flow != expected_flow(channel)) ++faults.wrong_answers;
        if (i >= 0) times.push_back(took);
    }
    qk42_close(line);
    // The next owner of the line may open it only once the simulator has seen it let go.
    if (!sim.wait_for_hangups(hangups + 1, 5000)) {
        throw std::runtime_error("the simulator did not see the line closed");
    }
    return times;
}

void wait_quiet(const sim::Simulator& sim, int quiet_ms, int limit_ms) {
    const double until = wall_us() + limit_ms * 1000.0;
    std::uint64_t seen = sim.counters().requests;
    double changed = wall_us();
    while (wall_us() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const std::uint64_t now = sim.counters().requests;
        if (now != seen) {
            seen = now;
            changed = wall_us();
        } else if (wall_us() - changed >= quiet_ms * 1000.0) {
            return;
        }
    }
    throw std::runtime_error("the line did not fall quiet");
}

}  // namespace qk42rt::bench
