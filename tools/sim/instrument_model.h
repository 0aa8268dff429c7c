// One instrument as the protocol sees it: how each request changes or reads its state, and
// the bytes it answers with.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "commands/words.h"
#include "flow_dynamics.h"
#include "protocol/request.h"
#include "simulator.h"

namespace qk42rt::sim {

// Integration control codes the instrument understands; others are acknowledged and ignored.
using commands::kIntegrationReset;
using commands::kIntegrationStart;
using commands::kIntegrationStop;

struct ModelSettings {
    double time_constant_s = 2.0;
    double noise = 0.0;  // standard deviation added to each flow reading of an open channel
    std::uint32_t noise_seed = 1;
};

class InstrumentModel {
  public:
    using Clock = std::chrono::steady_clock;

    InstrumentModel(ModelSettings settings, Clock::time_point start);

    // Answers one request as of `now`, with the bytes of its reply.
    std::vector<std::uint8_t> answer(const protocol::TypedRequest& request, Clock::time_point now);

    // The same for the bytes of one request (header first). Empty: the instrument stays
    // silent (a system sub-code it does not know, or a request of the wrong length).
    std::optional<std::vector<std::uint8_t>> answer(std::span<const std::uint8_t> request,
                                                    Clock::time_point now);

    // Moves flows and integration forward to `now`; earlier times are ignored.
    void advance(Clock::time_point now);

    InstrumentState& state() { return state_; }
    const InstrumentState& state() const { return state_; }

  private:
    struct Answering;
    std::vector<std::uint8_t> system_echo(std::uint8_t ack, std::uint8_t subcode) const;
    float flow_reading(int index);
    void integration_control(int control);

    ModelSettings settings_;
    InstrumentState state_;
    IntegrationRest rest_;
    Clock::time_point last_;
    std::mt19937 noise_rng_;
};

}  // namespace qk42rt::sim
