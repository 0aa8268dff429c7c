// `qk42rt serve` as a user runs it, in front of a simulator of the test's own, with an HTTP
// client pointed at it.
#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <vector>

#include "simulator.h"
#include "support/child_process.h"

namespace qk42rt::testing {

inline const std::string kClientProgram = QK42RT_CLIENT_PATH;

// A configuration file for "serve --config"; its [http] listen names port 0.
struct ConfigFile {
    std::string path;
};

// The client's whole command line, for a server that takes its lines from a file
// (`serve --config FILE`, whose [http] listen says where).
struct CommandLine {
    std::vector<std::string> words;
};

class Served {
  public:
    // Starts the server with `args` after "--device DEVICE serve --listen 127.0.0.1:0";
    // waits for its "listening:" line.
    Served(const std::string& device, std::vector<std::string> args = {});
    // Starts "serve --config FILE" and waits likewise.
    explicit Served(const ConfigFile& config);
    // Starts `qk42rt WORDS...`; waits for its "listening:" line.
    explicit Served(const CommandLine& command_line);
    ~Served();

    const std::string& url() const { return url_; }  // http://127.0.0.1:PORT
    int port() const { return port_; }
    httplib::Client client() const;
    // Stops the server with SIGTERM; its exit status and output.
    Finished stop();
    // Sends `signal` to the server (SIGSTOP and SIGCONT freeze and thaw it).
    void signal(int signal) { process_->send_signal(signal); }
    // Kills the server with SIGKILL, as a crash or the OOM killer would; what it wrote.
    Finished kill();
    std::string stderr_so_far();

  private:
    void start(const std::vector<std::string>& words);
    void wait_listening();

    std::unique_ptr<ChildProcess> process_;
    std::string url_;
    int port_ = 0;
};

// A simulator with instant flow response on a pseudo-terminal (and on TCP when asked).
sim::Options test_sim_options(std::vector<int> addresses = {1}, bool tcp = false);

// Waits until `done` holds or `timeout_ms` passes.
bool eventually(const std::function<bool()>& done, int timeout_ms = 5000);

}  // namespace qk42rt::testing
