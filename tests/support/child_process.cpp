#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace qk42rt::testing {
namespace {

// Close-on-exec, so that no other child inherits them: a pipe ends only when every copy of its
// write end is closed.
void open_pipe(int (&fds)[2]) {
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

void close_fd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args)
    : ChildProcess(program, args, Pipes{}) {}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           Pipes pipes) {
    int in_pipe[2] = {-1, -1};
    int out_pipe[2] = {-1, -1};
    int err_pipe[2] = {-1, -1};
    if (pipes.input) open_pipe(in_pipe);
    open_pipe(out_pipe);
    if (pipes.capture_stderr) open_pipe(err_pipe);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (pipes.input) posix_spawn_file_actions_adddup2(&actions, in_pipe[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    if (pipes.capture_stderr)
        posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);

    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int spawned =
        posix_spawnp(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close_fd(in_pipe[0]);
    close_fd(out_pipe[1]);
    close_fd(err_pipe[1]);
    in_fd_ = in_pipe[1];
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
    if (spawned != 0) {
        pid_ = -1;
        close_fd(in_fd_);
        close_fd(out_fd_);
        close_fd(err_fd_);
        throw std::runtime_error("cannot start " + program);
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close_fd(in_fd_);
    close_fd(out_fd_);
    close_fd(err_fd_);
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
        } else if (n == 0 || errno != EINTR) {
            close_fd(*owners[i]);
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

std::optional<std::string> ChildProcess::read_line(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        const auto newline = result_.out.find('\n', taken_);
        if (newline != std::string::npos) {
            std::string line = result_.out.substr(taken_, newline - taken_);
            taken_ = newline + 1;
            return line;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || out_fd_ < 0) return std::nullopt;
        pump(static_cast<int>(left.count()));
    }
}

void ChildProcess::write_line(const std::string& line) {
    const std::string text = line + '\n';
    for (std::size_t sent = 0; sent < text.size();) {
        const ssize_t n = write(in_fd_, text.data() + sent, text.size() - sent);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("cannot write to the child process");
        sent += static_cast<std::size_t>(n);
    }
}

void ChildProcess::send_signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
}

Finished ChildProcess::finish(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    close_fd(in_fd_);
    int status = 0;
    for (;;) {
        // Its output to the end first; a child that has closed it may still be running.
        if (!pump(20)) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
    }
    pid_ = -1;
    result_.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result_;
}

Finished run_client(const std::string& program, const std::vector<std::string>& args) {
    ChildProcess child(program, args);
    return child.finish(20'000);
}

}  // namespace qk42rt::testing
