// The instrument simulator `qk42rt-sim` as a separate process, so that the CPU time this
// process is charged is the client side's alone.
#pragma once

#include <string>
#include <vector>

#include "child_process.h"

namespace qk42rt::bench {

class SimulatorProcess {
  public:
    SimulatorProcess(const std::string& program, const std::vector<std::string>& options);

    const std::string& slave_path() const { return slave_; }

  private:
    ChildProcess child_;
    std::string slave_;
};

}  // namespace qk42rt::bench
