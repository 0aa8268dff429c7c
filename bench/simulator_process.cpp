#include "simulator_process.h"

#include <stdexcept>

namespace qk42rt::bench {
namespace {

std::vector<std::string> command(const std::string& program,
                                 const std::vector<std::string>& options) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), options.begin(), options.end());
    return argv;
}

}  // namespace

SimulatorProcess::SimulatorProcess(const std::string& program,
                                   const std::vector<std::string>& options)
    : child_(command(program, options)) {
    const std::string line = child_.read_line(10'000);
    const std::string prefix = "slave: ";
    if (line.rfind(prefix, 0) != 0) throw std::runtime_error("qk42rt-sim said: " + line);
    slave_ = line.substr(prefix.size());
    // Its event lines are of no interest; unread they could fill the pipe and stall it.
    child_.stop_reading();
}

}  // namespace qk42rt::bench
