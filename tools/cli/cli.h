// The client from command line to exit status.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "arguments.h"
#include "subcommands.h"

namespace qk42rt::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the instrument or the port failed
inline constexpr int kExitUsage = 2;

// A command line checked to the last word, ready to run.
struct Plan {
    CommandLine line;
    const Subcommand* subcommand = nullptr;  // null with help: the global help
    Prepared prepared;
    std::string device;  // empty for help and the demo
};

// Throws UsageError for anything that cannot be carried out as typed.
Plan make_plan(const std::vector<std::string>& argv);

// Runs a command line; messages for people go to `err`.
int run(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err);

}  // namespace qk42rt::cli
