// What `qk42rt serve` is asked to do.
#pragma once

#include <string>
#include <vector>

namespace qk42rt::server {

struct ServeOptions {
    std::string device;          // any device string
    std::vector<int> addresses;  // instruments to serve; empty: those that answer a scan
    std::string listen = "127.0.0.1:8042";
    std::string token_file;       // empty: no token
    bool read_only = false;       // no write reaches the instrument
    int poll_interval_ms = 1000;  // flows of every served channel, this often
};

// Runs the server until SIGINT or SIGTERM; the exit status. Messages go to stderr, the
// address it listens on to stdout ("listening: http://127.0.0.1:8042").
int serve(const ServeOptions& options);

}  // namespace qk42rt::server
