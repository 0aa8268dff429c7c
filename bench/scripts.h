// The Python contenders, python_clients.py, each a process of its own that times its calls
// and counts its CPU itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "measure.h"
#include "support/child_process.h"

namespace qk42rt::bench {

// `python` running `script` KIND DEVICE, with `env` (NAME=VALUE) in its environment, once it
// says it has the line; none when it does not (the reason on stderr).
using Script = std::unique_ptr<testing::ChildProcess>;
Script start_script(const std::string& python, const std::string& script, const std::string& kind,
                    const std::string& device, const std::vector<std::string>& env = {});

// The script's turns: "run COUNT WORDS", answered "done CPU_NS FAILURES WALL_NS...", its own
// CPU time as the kernel counts it and one wall time per call. Without a script, none.
Turn script_turns(const Script& script, const std::string& words);

}  // namespace qk42rt::bench
