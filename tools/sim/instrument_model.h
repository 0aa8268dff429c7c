// One instrument as the protocol sees it: how each request changes or reads its state, and
// the bytes it answers with.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "flow_dynamics.h"
#include "simulator.h"

namespace qk42rt::sim {

// Integration control codes the instrument understands; others are acknowledged and ignored.
inline constexpr std::uint8_t kIntegrationStart = 0x01;
inline constexpr std::uint8_t kIntegrationStop = 0x02;
inline constexpr std::uint8_t kIntegrationReset = 0x03;  // zeroes the counters, keeps running

struct ModelSettings {
    double time_constant_s = 2.0;
    double noise = 0.0;  // standard deviation added to each flow reading of an open channel
    std::uint32_t noise_seed = 1;
};

class InstrumentModel {
  public:
    using Clock = std::chrono::steady_clock;

    InstrumentModel(ModelSettings settings, Clock::time_point start);

    // Answers one complete request (header first) as of `now`. Empty: the instrument stays
    // silent (a system sub-code it does not know, or a request of the wrong length).
    std::optional<std::vector<std::uint8_t>> answer(std::span<const std::uint8_t> request,
                                                    Clock::time_point now);

    // Moves flows and integration forward to `now`; earlier times are ignored.
    void advance(Clock::time_point now);

    InstrumentState& state() { return state_; }
    const InstrumentState& state() const { return state_; }

  private:
    std::vector<std::uint8_t> answer_system(std::uint8_t header, std::uint8_t subcode);
    std::vector<std::uint8_t> reading(const ChannelState& channel, float value) const;
    float flow_reading(int index);
    void integration_control(std::uint8_t control);

    ModelSettings settings_;
    InstrumentState state_;
    IntegrationRest rest_;
    Clock::time_point last_;
    std::mt19937 noise_rng_;
};

}  // namespace qk42rt::sim
