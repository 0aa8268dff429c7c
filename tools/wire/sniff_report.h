// How `sniff` shows what it saw: one line (or JSON object) per exchange or run of stray
// bytes, and a summary at the end.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "conversation.h"
#include "recording.h"

namespace qk42rt::wire {

// "2024-05-01T12:00:01.234Z  83 01 -> 02 00 00 C8 42  0.412 ms  read flow  address 1 ..."
std::string seen_line(const Seen& seen);
std::string seen_json(const Seen& seen);

// The exchange as a recording holds it; empty for stray bytes.
std::optional<Recorded> seen_record(const Seen& seen);

class Summary {
  public:
    void add(const Seen& seen);
    // Two lines for stderr: counts by kind of trouble, reply latency median and maximum.
    std::string text() const;

    std::size_t exchanges() const { return exchanges_; }
    std::size_t count(Trouble trouble) const { return counts_[static_cast<std::size_t>(trouble)]; }

  private:
    std::size_t exchanges_ = 0;
    std::size_t troubled_ = 0;
    std::array<std::size_t, kTroubleKinds> counts_{};
    std::vector<double> latencies_;  // of whole replies
};

}  // namespace qk42rt::wire
