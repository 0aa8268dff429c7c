// The client as a separate process: its arguments in, its output and exit status out.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qk42rt::testing {

struct Finished {
    int exit_code = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

class ChildProcess {
  public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args);
    ~ChildProcess();  // kills a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads until stdout holds `lines` complete lines; false on time-out or end of output.
    bool wait_for_lines(std::size_t lines, int timeout_ms);
    // What the child wrote so far, after reading what is there (waiting at most `wait_ms`).
    const Finished& so_far(int wait_ms = 0);
    void send_signal(int signal);
    // Reads everything and reaps the child; kills it after `timeout_ms`.
    Finished finish(int timeout_ms);

  private:
    // Reads what is there, waiting at most `wait_ms`; false once both pipes are closed.
    bool pump(int wait_ms);

    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    Finished result_;
};

// Runs the client to the end (at most 20 s).
Finished run_client(const std::string& program, const std::vector<std::string>& args);

}  // namespace qk42rt::testing
