#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "clocks.h"

extern char** environ;

namespace qk42rt::bench {
namespace {

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    int in_pipe[2];
    int out_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category());
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        ::close(in_pipe[0]);
        ::close(in_pipe[1]);
        throw std::system_error(errno, std::generic_category());
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const int failed = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in_pipe[0]);
    ::close(out_pipe[1]);
    to_child_ = in_pipe[1];
    from_child_ = out_pipe[0];
    if (failed != 0) {
        close_fd(to_child_);
        close_fd(from_child_);
        throw std::system_error(failed, std::generic_category(), "cannot start " + argv[0]);
    }
}

ChildProcess::~ChildProcess() {
    close_fd(to_child_);
    close_fd(from_child_);
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGTERM);
        if (wait(2000) == -1 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
}

std::string ChildProcess::read_line(int timeout_ms) {
    const double deadline = wall_us() + timeout_ms * 1000.0;
    for (;;) {
        const auto newline = pending_.find('\n');
        if (newline != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            return line;
        }
        const double left_us = deadline - wall_us();
        if (left_us <= 0) throw std::runtime_error("child process: no answer in time");
        pollfd readable{from_child_, POLLIN, 0};
        const int ready = poll(&readable, 1, static_cast<int>(left_us / 1000.0) + 1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(from_child_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("child process ended before answering");
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

void ChildProcess::write_line(const std::string& line) {
    const std::string text = line + '\n';
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::write(to_child_, text.data() + sent, text.size() - sent);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("child process: cannot write to it");
        sent += static_cast<std::size_t>(n);
    }
}

void ChildProcess::signal(int signal_number) {
    if (!reaped_ && pid_ > 0) kill(pid_, signal_number);
}

void ChildProcess::stop_reading() {
    close_fd(from_child_);
}

int ChildProcess::wait(int timeout_ms) {
    const double deadline = wall_us() + timeout_ms * 1000.0;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            reaped_ = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (done < 0 || wall_us() > deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace qk42rt::bench
