// A program run beside the benchmark (the simulator, the Python client, the command-line
// client), talked to through pipes. Terminated and reaped when this goes away.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qk42rt::bench {

class ChildProcess {
  public:
    // Starts argv[0] (looked up on PATH) with stdin and stdout on pipes; stderr is shared.
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // One line of the child's output without its newline; throws when the child ends or says
    // nothing for `timeout_ms`.
    std::string read_line(int timeout_ms);
    void write_line(const std::string& line);

    // No more output is read: the child's later writes fail instead of filling the pipe.
    void stop_reading();

    // Sends `signal_number` to the child.
    void signal(int signal_number);

    // Waits for the child to end by itself; its exit status, or -1 after `timeout_ms`.
    int wait(int timeout_ms);

  private:
    pid_t pid_ = -1;
    int to_child_ = -1;
    int from_child_ = -1;
    std::string pending_;
    bool reaped_ = false;
};

}  // namespace qk42rt::bench
