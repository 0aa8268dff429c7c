// The instrument the demo talks to: the simulator `qk42rt-sim` as a process of its own, so
// that the client carries no simulator inside it. Found through QK42RT_SIM, beside this
// program (an installed tree), beside this program's folder in a build tree (tools/sim/), or
// on PATH.
#pragma once

#include <sys/types.h>

#include <string>
#include <thread>
#include <vector>

namespace qk42rt::cli {

class DemoSimulator {
  public:
    // Starts the simulator with `options` and waits until it names its line; std::runtime_error
    // says why when it cannot.
    explicit DemoSimulator(const std::vector<std::string>& options);
    ~DemoSimulator();  // stops it (SIGTERM) and waits for it
    DemoSimulator(const DemoSimulator&) = delete;
    DemoSimulator& operator=(const DemoSimulator&) = delete;

    const std::string& slave_path() const { return slave_path_; }

  private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string slave_path_;
    std::thread drain_;  // reads the simulator's event lines, so that it never blocks on them
};

}  // namespace qk42rt::cli
