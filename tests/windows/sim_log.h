// The simulator's standard output, read while it runs: the host side of a test sees from
// it when the simulator noticed the line hang up.
#pragma once

#include <string>

namespace qk42rt_wintest {

class SimLog {
  public:
    explicit SimLog(std::string path) : path_(std::move(path)) {}

    // How many times the simulator has reported the line hung up so far.
    int hangups() const;

    // Waits until the count reaches `count`; false when `timeout_ms` pass first.
    bool wait_for_hangups(int count, int timeout_ms) const;

  private:
    std::string path_;
};

// Milliseconds on a monotonic clock.
double now_ms();

}  // namespace qk42rt_wintest
