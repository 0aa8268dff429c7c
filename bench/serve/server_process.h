// `qk42rt serve` as the benchmark runs it: a process of its own on the simulator's line,
// listening on a free loopback port, with its CPU time and memory read from /proc.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "child_process.h"

namespace qk42rt::bench {

class ServerProcess {
  public:
    // Starts `client` --device DEVICE serve --listen 127.0.0.1:0 --address 1
    // --poll-interval MS and waits for its "listening:" line.
    ServerProcess(const std::string& client, const std::string& device, int poll_interval_ms);
    ~ServerProcess() = default;  // SIGTERM, then SIGKILL, when still running
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    int port() const { return port_; }
    pid_t pid() const { return pid_; }

    // Ends it with SIGTERM as a user would; its exit status (0 for a clean stop), -1 when it
    // did not end within ten seconds.
    int stop();

  private:
    std::unique_ptr<ChildProcess> child_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// User + system CPU time of a process (all its threads), in seconds.
double process_cpu_seconds(pid_t pid);

struct ResidentMemory {
    long rss_kib = 0;   // VmRSS
    long peak_kib = 0;  // VmHWM
};
ResidentMemory resident_memory(pid_t pid);

}  // namespace qk42rt::bench
