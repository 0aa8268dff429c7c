#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "demo_simulator.h"

extern char** environ;

namespace qk42rt::cli {
namespace {

constexpr const char* kProgram = "qk42rt-sim";
constexpr auto kStartLimit = std::chrono::seconds(10);

// Where the simulator is: the first of QK42RT_SIM, beside this program, in a build tree's
// tools/sim/ beside this program's tools/cli/; otherwise its name, for PATH.
std::string simulator_program() {
    if (const char* chosen = std::getenv("QK42RT_SIM"); chosen != nullptr && *chosen != '\0')
        return chosen;
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const auto folder = self.parent_path();
        for (const auto& candidate : {folder / kProgram, folder.parent_path() / "sim" / kProgram}) {
            if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
        }
    }
    return kProgram;
}

// The simulator's first line names its pseudo-terminal: "slave: /dev/pts/3".
std::string read_slave_line(int fd, pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    std::string text;
    while (text.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) throw std::runtime_error("the simulator did not name its line");
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        char buffer[256];
        const ssize_t n = ready.revents ? ::read(fd, buffer, sizeof buffer) : 0;
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            throw std::runtime_error(std::string("read: ") + std::strerror(errno));
        if (ready.revents && n == 0) {
            int status = 0;
            ::waitpid(pid, &status, 0);
            throw std::runtime_error("the simulator ended before naming its line");
        }
        if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
    }
    const std::string line = text.substr(0, text.find('\n'));
    constexpr std::string_view kSlave = "slave: ";
    if (line.rfind(kSlave, 0) != 0)
        throw std::runtime_error("the simulator said '" + line + "' instead of its line");
    return line.substr(kSlave.size());
}

}  // namespace

struct DemoSimulator::Process {
    pid_t pid = -1;
    int output = -1;
};

DemoSimulator::DemoSimulator(const std::vector<std::string>& options)
    : process_(std::make_unique<Process>()) {
    pid_t& pid = process_->pid;
    int& output = process_->output;
    const std::string program = simulator_program();
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    output = pipe_fds[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    std::vector<std::string> words{program};
    words.insert(words.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int spawned =
        ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
    if (spawned != 0) {
        ::close(output);
        throw std::runtime_error("cannot start the simulator " + program + ": " +
                                 std::strerror(spawned));
    }
    try {
        device_ = read_slave_line(output, pid);
    } catch (const std::runtime_error& error) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ::close(output);
        throw std::runtime_error(program + ": " + error.what());
    }
    drain_ = std::thread([fd = output] {
        char buffer[256];
        while (::read(fd, buffer, sizeof buffer) > 0) {
        }
    });
}

void DemoSimulator::stop() {
    ::kill(process_->pid, SIGTERM);
    ::waitpid(process_->pid, nullptr, 0);
    if (drain_.joinable()) drain_.join();  // the pipe ends with the simulator
    ::close(process_->output);
}

DemoSimulator::~DemoSimulator() {
    stop();
}

}  // namespace qk42rt::cli
