// The instrument the demo talks to: the simulator `qk42rt-sim` as a process of its own, so
// that the client carries no simulator inside it. Found through QK42RT_SIM, beside this
// program (an installed tree), beside this program's folder in a build tree (tools/sim/), or
// on PATH. On Linux it serves a pseudo-terminal; on Windows, which has none, loopback TCP.
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace qk42rt::cli {

class DemoSimulator {
  public:
    // Starts the simulator with `options` and waits until it names its line; std::runtime_error
    // says why when it cannot.
    explicit DemoSimulator(const std::vector<std::string>& options);
    ~DemoSimulator();  // stops it and waits for it
    DemoSimulator(const DemoSimulator&) = delete;
    DemoSimulator& operator=(const DemoSimulator&) = delete;

    // What a host opens: the pseudo-terminal's path, or tcp://127.0.0.1:PORT.
    const std::string& device() const { return device_; }

  private:
    void stop();

    struct Process;  // the system's handles on the running simulator and its output
    std::unique_ptr<Process> process_;
    std::string device_;
    std::thread drain_;  // reads the simulator's event lines, so that it never blocks on them
};

}  // namespace qk42rt::cli
