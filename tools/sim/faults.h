// Faults chosen per command code, and what they make of a reply.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "simulator.h"

namespace qk42rt::sim {

// The byte sent as line noise before a reply: bit 7 clear, so it never looks like a header.
inline constexpr std::uint8_t kGarbageByte = 0x2A;
// The byte appended after a reply as surplus.
inline constexpr std::uint8_t kSurplusByte = 0x55;

// Bytes to send after waiting delay_ms (counted from the previous step).
struct ReplyStep {
    int delay_ms = 0;
    std::vector<std::uint8_t> bytes;
};

struct ReplyPlan {
    std::vector<ReplyStep> steps;  // empty: nothing is sent
    bool hang_up = false;          // hang the line up instead of answering
};

// What goes on the line for `reply` under `fault` (none: the reply as it is).
ReplyPlan plan_reply(const std::vector<std::uint8_t>& reply, const FaultRule* fault);

// The rules in force. The first rule that matches a request's code and fires applies to it;
// a rule with a count is used up by the requests it applies to.
class FaultBook {
  public:
    void add(const FaultRule& rule);
    void clear() { entries_.clear(); }
    std::optional<FaultRule> draw(std::uint8_t code);

  private:
    struct Entry {
        FaultRule rule;
        std::mt19937 rng;
    };
    std::vector<Entry> entries_;
};

// The command-line name of a fault kind ("late-reply").
std::string_view fault_name(FaultKind kind);

// Reads "KIND[:key=value,...]" with keys code, count, probability, seed, delay, extra.
// On a mistake returns empty and says why in `error`.
std::optional<FaultRule> parse_fault(std::string_view text, std::string& error);

}  // namespace qk42rt::sim
