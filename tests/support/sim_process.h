// qk42rt-sim as a process of its own, as hosts meet it: where it serves, when hosts close its
// line and, with --timings, its account of every exchange. A thread reads what it prints.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"

namespace qk42rt::testing {

// One request as qk42rt-sim --timings reports it, in seconds since the simulator started.
struct SimExchange {
    double request_s = 0.0, reply_start_s = 0.0, reply_end_s = 0.0;
    int request_bytes = 0, reply_bytes = 0;
};

class SimProcess {
  public:
    // Starts `program` with `options` and waits for its pseudo-terminal (unless they hold
    // --no-pty) and its listener (with --tcp); std::runtime_error when it does not start.
    SimProcess(const std::string& program, const std::vector<std::string>& options);
    ~SimProcess();  // kills it
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& device() const { return device_; }
    std::uint16_t tcp_port() const { return tcp_port_; }
    std::uint64_t requests() const;  // framed so far (with --timings)
    std::uint64_t hangups() const;   // times a host closed the line
    // Waits until hosts have closed the line `count` times in all; throws after 5 s.
    void wait_for_hangups(std::uint64_t count) const;
    void record();                             // keeps the exchanges from now on,
    std::vector<SimExchange> take_recorded();  // until they are taken

  private:
    void read_output();

    ChildProcess child_;
    std::string device_;
    std::uint16_t tcp_port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::uint64_t requests_ = 0;
    std::uint64_t hangups_ = 0;
    bool recording_ = false;
    std::vector<SimExchange> recorded_;
    std::thread reader_;
};

}  // namespace qk42rt::testing
