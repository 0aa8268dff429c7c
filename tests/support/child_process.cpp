#include "support/child_process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

extern char** environ;

namespace qk42rt::testing {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args) {
    int out_pipe[2];
    int err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
    posix_spawn_file_actions_addclose(&actions, err_pipe[0]);

    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int spawned =
        posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
    if (spawned != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + program);
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
    if (err_fd_ >= 0) close(err_fd_);
}

bool ChildProcess::pump(int wait_ms) {
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    if (out_fd_ < 0 && err_fd_ < 0) return false;
    if (poll(fds, 2, wait_ms) <= 0) return true;
    int* owners[2] = {&out_fd_, &err_fd_};
    std::string* sinks[2] = {&result_.out, &result_.err};
    for (int i = 0; i < 2; ++i) {
        if (*owners[i] < 0 || fds[i].revents == 0) continue;
        char buffer[4096];
        const ssize_t n = read(*owners[i], buffer, sizeof buffer);
        if (n > 0) {
            sinks[i]->append(buffer, static_cast<std::size_t>(n));
        } else {
            close(*owners[i]);
            *owners[i] = -1;
        }
    }
    return true;
}

bool ChildProcess::wait_for_lines(std::size_t lines, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (static_cast<std::size_t>(std::count(result_.out.begin(), result_.out.end(), '\n')) <
           lines) {
        if (std::chrono::steady_clock::now() >= deadline || !pump(50)) return false;
    }
    return true;
}

const Finished& ChildProcess::so_far(int wait_ms) {
    pump(wait_ms);
    return result_;
}

void ChildProcess::send_signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
}

Finished ChildProcess::finish(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (pump(50)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            break;
        }
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    result_.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result_;
}

Finished run_client(const std::string& program, const std::vector<std::string>& args) {
    ChildProcess child(program, args);
    return child.finish(20'000);
}

}  // namespace qk42rt::testing
