// A recording turned into an instrument's answers: for each distinct request, the replies
// recorded for it, handed out in recorded order; the last one repeats once they run out.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "recording.h"
#include "simulator.h"

namespace qk42rt::sim {

class ReplayBook {
  public:
    // Reads a recording; std::runtime_error names the file and line of anything wrong in it.
    static ReplayBook load(const std::string& path);

    void add(const Recorded& recorded);

    // The next reply recorded for `request`; empty when it was never recorded.
    std::optional<Recorded> next(std::span<const std::uint8_t> request);

    std::size_t exchanges() const { return exchanges_; }
    std::size_t distinct_requests() const { return queues_.size(); }

  private:
    struct Queue {
        std::vector<Recorded> replies;
        std::size_t next = 0;
    };
    // By the request's bytes held as a string: a map of byte vectors sets off GCC 12's
    // overread check when optimized, though nothing reads beyond them.
    std::map<std::string, Queue> queues_;
    std::size_t exchanges_ = 0;
};

// What the simulator answers to `request` from `book`; with `timing`, after the recorded
// latency (whole milliseconds, at most a minute).
Answer replay_answer(ReplayBook& book, std::span<const std::uint8_t> request, bool timing);

}  // namespace qk42rt::sim
