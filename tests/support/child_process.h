// A program run as a process of its own (the client, the simulator, ser2net, a Python script):
// its arguments in; its output, exit status and, when asked, its standard input through pipes.
// Shared by the tests and the benchmark; no GoogleTest here.
#pragma once

#include <sys/types.h>

#include <optional>
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
    struct Pipes {
        bool input = false;          // a pipe to its stdin (else it inherits ours)
        bool capture_stderr = true;  // else its stderr is ours
    };

    // Starts `program` (a path, or a name looked up on PATH).
    ChildProcess(const std::string& program, const std::vector<std::string>& args);
    ChildProcess(const std::string& program, const std::vector<std::string>& args, Pipes pipes);
    ~ChildProcess();  // kills a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Reads until stdout holds `lines` complete lines; false on time-out or end of output.
    bool wait_for_lines(std::size_t lines, int timeout_ms);
    // What the child wrote so far, after reading what is there (waiting at most `wait_ms`).
    const Finished& so_far(int wait_ms = 0);
    // The next line of stdout not yet taken, without its newline; empty on time-out or at the
    // end of its output.
    std::optional<std::string> read_line(int timeout_ms);
    bool output_ended() const { return out_fd_ < 0; }
    // One line to its stdin (with Pipes::input); std::runtime_error when it is gone.
    void write_line(const std::string& line);
    void send_signal(int signal);
    // Reads everything and reaps the child; kills it after `timeout_ms`.
    Finished finish(int timeout_ms);

  private:
    // Reads what is there, waiting at most `wait_ms`; false once both pipes are closed.
    bool pump(int wait_ms);

    pid_t pid_ = -1;
    int in_fd_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    std::size_t taken_ = 0;  // bytes of stdout read_line() has handed out
    Finished result_;
};

// Runs the client to the end (at most 20 s).
Finished run_client(const std::string& program, const std::vector<std::string>& args);

}  // namespace qk42rt::testing
