// qk42rt-sim as a process: the stdout lines other programs wait for, and a clean exit.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "sim_fixture.h"
#include "support/scripted_port.h"
#include "support/sim_process.h"

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

// Every operation over tcp:// to the program's listener: the bytes the library sent and got
// are exactly those the simulator's transcript shows it received and sent.
TEST(SimProgram, ServesOnTcpByteForByteAsItsTranscriptShows) {
    const std::string transcript =
        ::testing::TempDir() + "qk42rt-sim-tcp-" + std::to_string(getpid()) + ".log";
    std::remove(transcript.c_str());
    Program sim({"--tcp", "127.0.0.1:0", "--no-pty", "--transcript", transcript});
    const std::string first = sim.line();
    ASSERT_TRUE(std::regex_match(first, std::regex("tcp: 127\\.0\\.0\\.1:[0-9]+"))) << first;

    std::vector<std::string> traced;  // "rx ..." and "tx ..." as the simulator would log them
    {
        OpenResult opened = open_device("tcp://" + first.substr(5));
        ASSERT_EQ(opened.status, OpenStatus::opened) << opened.reason;
        protocol::Line line(opened.port.get(),
                            [&](const protocol::Request& request, const protocol::Reply& reply) {
                                traced.push_back("rx " + testing::hex(request.view()));
                                traced.push_back("tx " + testing::hex(reply.view()));
                            });
        using namespace commands;
        EXPECT_TRUE(set_unit(line, 1, 2, 3).ok());
        EXPECT_EQ(read_unit(line, 1, 2).value(), 3);
        EXPECT_TRUE(set_setpoint(line, 1, 2, 42.5f).ok());
        EXPECT_EQ(read_setpoint(line, 1, 2).value().value, 42.5f);
        EXPECT_TRUE(set_maxflow(line, 1, 2, 80.0f, 2).ok());
        EXPECT_EQ(read_maxflow(line, 1, 2).value().value, 80.0f);
        EXPECT_TRUE(set_on_off(line, 1, 0x02).ok());
        EXPECT_EQ(read_on_off(line, 1).value(), 0x02);
        EXPECT_TRUE(read_flow(line, 1, 2).ok());
        EXPECT_TRUE(int_control(line, 1, 0x01).ok());
        EXPECT_TRUE(read_intflow(line, 1, 2).ok());
        EXPECT_TRUE(read_inttime(line, 1).ok());
        EXPECT_TRUE(set_ratio_total(line, 1, {2, 0xA5, 3, 4}).ok());
        EXPECT_EQ(read_ratio_total(line, 1).value().value, 0xA5);
        EXPECT_TRUE(control_ratio_total(line, 1, 1).ok());
        EXPECT_EQ(read_version(line, 1).value().info1, 8);
        EXPECT_TRUE(set_display(line, 1, 1, 0).ok());
        EXPECT_TRUE(set_key_lock(line, 1, 1).ok());
    }
    EXPECT_TRUE(std::regex_match(sim.line(),
                                 std::regex("event: tcp client connected from 127.0.0.1:[0-9]+")));
    EXPECT_EQ(sim.line(), "event: tcp client left");
    EXPECT_EQ(sim.stop_and_wait(SIGTERM), 0);

    std::vector<std::string> logged;
    std::ifstream log(transcript);
    for (std::string line; std::getline(log, line);) {
        std::smatch m;
        if (std::regex_match(line, m, std::regex(" *[0-9.]+ ((rx|tx) .*)"))) logged.push_back(m[1]);
    }
    EXPECT_EQ(traced.size(), 36u);
    EXPECT_EQ(logged, traced);
    std::remove(transcript.c_str());
}

// --timings: a line per request framed. On the paced line a reply's bytes go out no earlier
// than the line would have carried the request and them; an unanswered request has no reply.
TEST(SimProgram, ReportsEachExchangesTimings) {
    testing::SimProcess sim(QK42RT_SIM_PROGRAM,
                            {"--timings", "--pace", "--fault", "no-reply:code=0x2"});
    sim.record();
    {
        OpenResult opened = open_device(sim.device());
        ASSERT_EQ(opened.status, OpenStatus::opened) << opened.reason;
        protocol::Line line(opened.port.get());
        EXPECT_TRUE(commands::read_flow(line, 1, 1).ok());  // 2 + 5 bytes
        EXPECT_FALSE(commands::read_unit(line, 1, 1).ok());
    }
    sim.wait_for_hangups(1);  // printed after the exchanges
    const std::vector<testing::SimExchange> seen = sim.take_recorded();
    ASSERT_EQ(seen.size(), 2u);
    constexpr double kByte = 10.0 / 9600.0;
    EXPECT_EQ(seen[0].request_bytes, 2);
    EXPECT_EQ(seen[0].reply_bytes, 5);
    EXPECT_GE(seen[0].reply_start_s - seen[0].request_s, 3 * kByte);
    EXPECT_GE(seen[0].reply_end_s - seen[0].request_s, 7 * kByte);
    EXPECT_GT(seen[1].request_s, seen[0].reply_end_s);
    EXPECT_EQ(seen[1].request_bytes, 2);
    EXPECT_EQ(seen[1].reply_bytes, 0);
    EXPECT_EQ(seen[1].reply_end_s, seen[1].request_s);
}

TEST(SimProgram, HelpAndUsageErrors) {
    Program help({"--help"});
    EXPECT_NE(help.rest().find("--fault KIND"), std::string::npos);
    EXPECT_EQ(help.stop_and_wait(0), 0);

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--address", "9"},
             {"--fault", "slow"},
             {"--turnaround"},
             {"--colour"},
             {"--no-pty"},
             {"--tcp", "4001"},
             {"--tcp", "127.0.0.1:0", "--no-pty", "--link", "/tmp/x"},
             {"--timings", "1"},
             {"--pace=no"}}) {
        Program bad(args);
        EXPECT_EQ(bad.stop_and_wait(0), 2) << args[0];
    }
}

}  // namespace
}  // namespace qk42rt::sim
