// `qk42rt sniff`: a pseudo-terminal for the host in front of the real line, every byte passed
// on both ways at once, and each exchange decoded as it goes by.
#pragma once

#include <ostream>
#include <string>

namespace qk42rt::wire {

struct SniffOptions {
    std::string device;  // any device string: a path, tcp://HOST:PORT, rfc2217://HOST:PORT
    std::string link;    // symbolic link to the host's pseudo-terminal
    std::string record;  // JSON lines of every exchange go here; empty: none
    bool json = false;   // one JSON object per line instead of text
};

// Runs until SIGINT or SIGTERM (exit status 0) or until the device goes away (1); 1 as well
// when the device or the pseudo-terminal cannot be had. The summary goes to `err`.
int sniff(const SniffOptions& options, std::ostream& out, std::ostream& err);

}  // namespace qk42rt::wire
