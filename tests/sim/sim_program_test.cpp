// qk42rt-sim as a process: the stdout lines other programs wait for, and a clean exit.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "sim_fixture.h"

namespace qk42rt::sim {
namespace {

class Program {
  public:
    explicit Program(std::vector<std::string> args) {
        // Built before the fork: the child only calls what is safe in a copy of a threaded
        // process.
        std::vector<char*> argv{const_cast<char*>(QK42RT_SIM_PROGRAM)};
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            execv(argv[0], argv.data());
            _exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
    }
    ~Program() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }

    // One line of standard output, without its newline; what there is on time-out or end.
    std::string line(int timeout_ms = 3000) {
        std::string text;
        char c = 0;
        while (true) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, timeout_ms) <= 0 || ::read(out_, &c, 1) != 1) {
                ended_ = true;
                return text;
            }
            if (c == '\n') return text;
            text += c;
        }
    }
    std::string rest() {
        std::string text;
        while (!ended_) text += line() + "\n";
        return text;
    }
    int stop_and_wait(int signal_number) {
        if (signal_number) kill(pid_, signal_number);
        int status = 0;
        waitpid(pid_, &status, 0);
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    bool reaped_ = false;
    bool ended_ = false;
};

TEST(SimProgram, PrintsTheSlaveThenLineEventsAndCleansUpOnTerm) {
    const std::string link = ::testing::TempDir() + "qk42rt-sim-prog-" + std::to_string(getpid());
    Program sim({"--link", link, "--address", "2"});
    const std::string first = sim.line();
    ASSERT_TRUE(std::regex_match(first, std::regex("slave: /dev/pts/[0-9]+"))) << first;
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), first.substr(7));

    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(sim.line(), "event: line opened");
    const unsigned char read_on_off = 0x9B;  // address 2
    ASSERT_EQ(::write(fd, &read_on_off, 1), 1);
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 2000), 1) << "address 2 answers";
    ::close(fd);
    EXPECT_EQ(sim.line(), "event: line hung up");

    EXPECT_EQ(sim.stop_and_wait(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(SimProgram, HelpAndUsageErrors) {
    Program help({"--help"});
    EXPECT_NE(help.rest().find("--fault KIND"), std::string::npos);
    EXPECT_EQ(help.stop_and_wait(0), 0);

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--address", "9"}, {"--fault", "slow"}, {"--turnaround"}, {"--colour"}}) {
        Program bad(args);
        EXPECT_EQ(bad.stop_and_wait(0), 2) << args[0];
    }
}

}  // namespace
}  // namespace qk42rt::sim
