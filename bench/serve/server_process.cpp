#include "server_process.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace qk42rt::bench {
namespace {

// The text of /proc/PID/FILE; empty when the process is gone.
std::string proc_file(pid_t pid, const char* file) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The fields of /proc/PID/stat after the command name, whose parentheses may hold anything:
// fields[0] is the state (field 3), fields[1] the parent (field 4), and so on.
std::vector<std::string> stat_fields(pid_t pid) {
    const std::string text = proc_file(pid, "stat");
    const auto name_end = text.rfind(')');
    if (name_end == std::string::npos) return {};
    std::istringstream rest(text.substr(name_end + 1));
    return {std::istream_iterator<std::string>(rest), {}};
}

// This process's children now. ChildProcess keeps its child's id to itself, so the server is
// found as the child that was not there before it started.
std::set<pid_t> children() {
    std::set<pid_t> found;
    const std::string self = std::to_string(getpid());
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        pid_t pid = 0;
        const auto [end, parse] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (parse != std::errc{} || end != name.data() + name.size()) continue;
        const auto fields = stat_fields(pid);
        if (fields.size() > 1 && fields[1] == self) found.insert(pid);
    }
    return found;
}

std::vector<std::string> command(const std::string& client, const std::string& device,
                                 int poll_interval_ms) {
    return {
        client,        "--device",  device, "serve",           "--listen",
        "127.0.0.1:0", "--address", "1",    "--poll-interval", std::to_string(poll_interval_ms)};
}

}  // namespace

ServerProcess::ServerProcess(const std::string& client, const std::string& device,
                             int poll_interval_ms) {
    const std::set<pid_t> before = children();
    child_ = std::make_unique<ChildProcess>(command(client, device, poll_interval_ms));
    const std::set<pid_t> after = children();
    std::vector<pid_t> fresh;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(fresh));
    if (fresh.size() != 1) throw std::runtime_error("cannot tell the server's process id");
    pid_ = fresh.front();

    const std::string prefix = "listening: http://127.0.0.1:";
    for (;;) {
        const std::string line = child_->read_line(20'000);
        if (line.rfind(prefix, 0) != 0) continue;  // "serving: ..." comes after it
        const char* first = line.data() + prefix.size();
        const auto [end, ec] = std::from_chars(first, line.data() + line.size(), port_);
        if (ec != std::errc{} || port_ <= 0) throw std::runtime_error("the server said: " + line);
        break;
    }
    child_->stop_reading();
}

int ServerProcess::stop() {
    child_->signal(SIGTERM);
    return child_->wait(10'000);
}

double process_cpu_seconds(pid_t pid) {
    const auto fields = stat_fields(pid);
    // utime and stime are fields 14 and 15, in clock ticks.
    if (fields.size() < 13) throw std::runtime_error("cannot read /proc/PID/stat");
    const double ticks = std::stod(fields[11]) + std::stod(fields[12]);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

ResidentMemory resident_memory(pid_t pid) {
    ResidentMemory memory;
    std::istringstream status(proc_file(pid, "status"));
    for (std::string line; std::getline(status, line);) {
        std::istringstream fields(line);
        std::string key;
        long kib = 0;
        fields >> key >> kib;
        if (key == "VmRSS:") memory.rss_kib = kib;
        if (key == "VmHWM:") memory.peak_kib = kib;
    }
    return memory;
}

}  // namespace qk42rt::bench
