// The instrument simulator `qk42rt-sim` as a separate process, so that the CPU time this
// process is charged is the client side's alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "child_process.h"

namespace qk42rt::bench {

class SimulatorProcess {
  public:
    // Waits for the simulator to name its pseudo-terminal (unless `options` hold --no-pty)
    // and its TCP listener (when they hold --tcp).
    SimulatorProcess(const std::string& program, const std::vector<std::string>& options);

    const std::string& slave_path() const { return slave_; }
    // The listener's port; 0 without --tcp.
    std::uint16_t tcp_port() const { return tcp_port_; }

  private:
    ChildProcess child_;
    std::string slave_;
    std::uint16_t tcp_port_ = 0;
};

}  // namespace qk42rt::bench
