#include "simulator_process.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace qk42rt::bench {
namespace {

std::vector<std::string> command(const std::string& program,
                                 const std::vector<std::string>& options) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), options.begin(), options.end());
    return argv;
}

bool has(const std::vector<std::string>& options, const std::string& option) {
    return std::find(options.begin(), options.end(), option) != options.end();
}

// "tcp: HOST:PORT" gives PORT; 0 when the line says otherwise.
std::uint16_t listener_port(const std::string& line) {
    const auto colon = line.rfind(':');
    std::uint16_t port = 0;
    if (colon == std::string::npos) return 0;
    const auto [end, ec] =
        std::from_chars(line.data() + colon + 1, line.data() + line.size(), port);
    return ec == std::errc{} && end == line.data() + line.size() ? port : 0;
}

}  // namespace

SimulatorProcess::SimulatorProcess(const std::string& program,
                                   const std::vector<std::string>& options)
    : child_(command(program, options)) {
    const bool want_slave = !has(options, "--no-pty");
    const bool want_tcp = has(options, "--tcp");
    while ((want_slave && slave_.empty()) || (want_tcp && tcp_port_ == 0)) {
        const std::string line = child_.read_line(10'000);
        if (line.rfind("slave: ", 0) == 0) {
            slave_ = line.substr(7);
        } else if (line.rfind("tcp: ", 0) == 0 && listener_port(line) != 0) {
            tcp_port_ = listener_port(line);
        } else {
            throw std::runtime_error("qk42rt-sim said: " + line);
        }
    }
    // Its event lines are of no interest; unread they could fill the pipe and stall it.
    child_.stop_reading();
}

}  // namespace qk42rt::bench
