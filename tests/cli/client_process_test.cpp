// The qk42rt program as a user runs it, against a simulated instrument on a pseudo-terminal.
#include <gtest/gtest.h>

#include <bit>
#include <csignal>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "json_check.h"
#include "simulator.h"
#include "support/child_process.h"

namespace qk42rt::testing {
namespace {

using Words = std::vector<std::string>;

const std::string kClient = QK42RT_CLIENT_PATH;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class Client : public ::testing::Test {
  protected:
    Finished run(Words args) {
        args.insert(args.begin(), {"--device", sim_.slave_path()});
        return run_client(kClient, args);
    }

    sim::Simulator sim_{[] {
        sim::Options options;
        options.addresses = {1};
        options.time_constant_s = 0.2;
        return options;
    }()};
};

TEST_F(Client, ReadsAndExitsZero) {
    const Finished done = run({"version"});
    EXPECT_EQ(done.exit_code, 0) << done.err;
    EXPECT_TRUE(contains(done.out, "1.2")) << done.out;
    EXPECT_EQ(done.err, "");
}

TEST_F(Client, SilentAddressExitsOneNamingOperationDeviceAndAddress) {
    const Finished done = run({"--address", "2", "flow", "3"});
    EXPECT_EQ(done.exit_code, 1);
    EXPECT_EQ(done.out, "");
    for (const std::string& part : {std::string("read flow of channel 3"), sim_.slave_path(),
                                    std::string("address 2"), std::string("no reply")}) {
        EXPECT_TRUE(contains(done.err, part)) << part << " missing in: " << done.err;
    }
}

TEST_F(Client, WrongAcknowledgeIsAFailureAndTheNextCallWorks) {
    sim::FaultRule rule;
    rule.kind = sim::FaultKind::wrong_ack;
    rule.code = 0xE;
    rule.count = 1;
    sim_.add_fault(rule);
    const Finished failed = run({"setpoint", "1", "10"});
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_TRUE(contains(failed.err, "set setpoint of channel 1 failed")) << failed.err;
    EXPECT_TRUE(contains(failed.err, "wrong acknowledge")) << failed.err;
    EXPECT_EQ(run({"setpoint", "1", "10"}).exit_code, 0);
}

TEST(ClientWithoutInstrument, MissingDeviceExitsOne) {
    const Finished done = run_client(kClient, {"--device", "/nonexistent/tty", "flow", "1"});
    EXPECT_EQ(done.exit_code, 1);
    EXPECT_TRUE(contains(done.err, "cannot open /nonexistent/tty")) << done.err;
}

// Values that cannot go out as typed are refused before anything is sent.
TEST_F(Client, RefusedArgumentsExitTwoAndSendNothing) {
    const std::vector<Words> refused = {
        {"flow", "9"},           {"flow", "0"},    {"unit", "2", "5"},
        {"setpoint", "1", "x"},  {"onoff", "300"}, {"--address", "9", "flow", "1"},
        {"ratio-mode", "3"},     {"frobnicate"},   {"flow"},
        {"keylock", "sometimes"}};
    for (const Words& args : refused) {
        const Finished done = run(args);
        EXPECT_EQ(done.exit_code, 2) << args[0];
        EXPECT_EQ(done.out, "") << args[0];
        EXPECT_TRUE(contains(done.err, "qk42rt: ")) << args[0];
    }
    EXPECT_EQ(sim_.counters().requests, 0u);
}

TEST_F(Client, JsonOfEveryReadingParses) {
    const std::vector<Words> readings = {
        {"flow", "1"},    {"setpoint", "2"}, {"maxflow", "3"},        {"unit", "4"},
        {"intflow", "5"}, {"inttime"},       {"ratio-total"},         {"onoff"},
        {"version"},      {"status"},        {"setpoint", "1", "2.5"}};
    for (Words args : readings) {
        args.push_back("--json");
        const Finished done = run(args);
        EXPECT_EQ(done.exit_code, 0) << args[0] << ": " << done.err;
        EXPECT_EQ(lines_of(done.out).size(), 1u) << done.out;
        EXPECT_TRUE(is_json(done.out)) << done.out;
    }
}

// A value that is not a number has one spelling whatever its sign bit: "nan" for people,
// null in JSON; the infinities are "inf" and "-inf". The decoder says the same of the bytes.
TEST_F(Client, NonFiniteReadingsHaveOneSpelling) {
    const std::uint32_t negative_nan = 0xFFC00000u, infinity = 0x7F800000u;
    sim_.update(1, [&](sim::InstrumentState& s) {
        s.channels[0].setpoint = std::bit_cast<float>(negative_nan);
        s.channels[1].setpoint = std::bit_cast<float>(infinity);
        s.channels[2].setpoint = -std::bit_cast<float>(infinity);
    });
    const struct {
        Words args;
        std::string expected;
    } cases[] = {
        {{"setpoint", "1"}, "setpoint  nan\n"},
        {{"setpoint", "1", "--json"}, "\"setpoint\":null,"},
        {{"setpoint", "2"}, "setpoint  inf\n"},
        {{"setpoint", "3"}, "setpoint  -inf\n"},
        {{"setpoint", "3", "--json"}, "\"setpoint\":null,"},
        {{"decode", "84 00 -> 00 00 00 C0 FF"}, "-> status 0, setpoint nan"},
    };
    for (const auto& c : cases) {
        const Finished done = run(c.args);
        EXPECT_EQ(done.exit_code, 0) << c.args[0] << ": " << done.err;
        EXPECT_TRUE(contains(done.out, c.expected)) << c.expected << " missing in: " << done.out;
    }
}

struct WriteThenRead {
    Words write;
    Words read;
    std::string expected;  // in the JSON of the reading
};

TEST_F(Client, WrittenValuesReadBack) {
    const std::vector<WriteThenRead> cases = {
        {{"setpoint", "3", "42.25"}, {"setpoint", "3"}, "\"setpoint\":42.25"},
        {{"setpoint", "4", "-1.5"}, {"setpoint", "4"}, "\"setpoint\":-1.5"},
        {{"maxflow", "2", "250", "3"}, {"maxflow", "2"}, "\"maxflow\":250"},
        {{"unit", "5", "4"}, {"unit", "5"}, "\"unit\":4"},
        {{"onoff", "0xA5"}, {"onoff"}, "\"state\":165"},
        {{"ratio-total", "2", "165", "3", "4"},
         {"ratio-total"},
         "{\"channel\":2,\"value\":165,\"channel2\":3,\"channel3\":4}"},
    };
    for (const WriteThenRead& c : cases) {
        ASSERT_EQ(run(c.write).exit_code, 0) << c.write[0];
        Words read = c.read;
        read.push_back("--json");
        const Finished done = run(read);
        EXPECT_TRUE(contains(done.out, c.expected)) << done.out;
    }
    const sim::InstrumentState state = sim_.state(1);
    EXPECT_EQ(state.channels[1].maxflow_code, 3);
}

TEST_F(Client, SystemWritesReachTheInstrument) {
    EXPECT_EQ(run({"keylock", "on"}).exit_code, 0);
    EXPECT_EQ(run({"display", "off", "on"}).exit_code, 0);
    EXPECT_EQ(run({"integration", "start"}).exit_code, 0);
    EXPECT_EQ(run({"ratio-mode", "2"}).exit_code, 0);
    const sim::InstrumentState state = sim_.state(1);
    EXPECT_TRUE(state.key_locked);
    EXPECT_FALSE(state.display_flag1);
    EXPECT_TRUE(state.display_flag2);
    EXPECT_TRUE(state.integrating);
    EXPECT_EQ(state.ratio_mode, 2);
}

TEST_F(Client, MonitorWritesCsvWithTimeStamps) {
    const Finished done = run({"monitor", "1", "2", "--count", "3", "--interval", "20"});
    EXPECT_EQ(done.exit_code, 0) << done.err;
    const auto lines = lines_of(done.out);
    ASSERT_EQ(lines.size(), 4u) << done.out;
    EXPECT_EQ(lines[0], "time,elapsed_s,flow1,status1,flow2,status2");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(std::count(lines[i].begin(), lines[i].end(), ','), 5) << lines[i];
        EXPECT_EQ(lines[i].find("20"), 0u) << "no time stamp: " << lines[i];
        EXPECT_EQ(lines[i].find(",,"), std::string::npos) << "a reading failed: " << lines[i];
    }
}

TEST_F(Client, MonitorOfASilentAddressLeavesCellsEmptyAndExitsOne) {
    const Finished done =
        run({"--address", "3", "monitor", "1", "--count", "2", "--interval", "0"});
    EXPECT_EQ(done.exit_code, 1);
    const auto lines = lines_of(done.out);
    ASSERT_EQ(lines.size(), 3u) << done.out;
    EXPECT_EQ(lines[1].substr(lines[1].size() - 2), ",,");
    EXPECT_TRUE(contains(done.err, "address 3")) << done.err;
}

TEST_F(Client, MonitorStopsCleanlyOnInterrupt) {
    ChildProcess child(kClient,
                       {"--device", sim_.slave_path(), "monitor", "1", "--interval", "50"});
    ASSERT_TRUE(child.wait_for_lines(3, 5000));
    child.send_signal(SIGINT);
    const Finished done = child.finish(3000);
    EXPECT_EQ(done.exit_code, 0) << done.err;
    ASSERT_FALSE(done.out.empty());
    EXPECT_EQ(done.out.back(), '\n');  // no half-written line
}

// The line goes away in the middle of a monitor run: on a pseudo-terminal (the simulator
// hangs up and moves its link to a new one) and on TCP (it closes the connection).
class MonitorAcrossHangUp : public ::testing::TestWithParam<bool> {
  protected:
    bool over_tcp() const { return GetParam(); }
};

double elapsed_of(const std::string& row) {
    const auto first = row.find(',');
    return std::stod(row.substr(first + 1, row.find(',', first + 1) - first - 1));
}

TEST_P(MonitorAcrossHangUp, KeepsItsScheduleMarksTheGapAndResumes) {
    const std::string link =
        ::testing::TempDir() + "qk42rt-monitor-hangup-" + std::to_string(getpid());
    sim::Options options;
    options.time_constant_s = 0.0;
    if (over_tcp()) {
        options.pty = false;
        options.tcp_listen = "127.0.0.1:0";
    } else {
        options.link_path = link;
    }
    sim::Simulator sim(options);
    sim.update(1, [](sim::InstrumentState& s) {
        s.on_off = 0x01;
        s.channels[0].setpoint = 12.5f;
    });
    const std::string device = over_tcp() ? "tcp://" + sim.tcp_address() : link;
    constexpr int kRows = 12;
    constexpr double kInterval = 0.25;
    ChildProcess monitor(kClient, {"--device", device, "monitor", "1", "--count",
                                   std::to_string(kRows), "--interval", "250", "--csv"});
    ASSERT_TRUE(monitor.wait_for_lines(3, 5000)) << "the header and two rows";
    sim::FaultRule hang_up;
    hang_up.kind = sim::FaultKind::hang_up;
    hang_up.count = 1;
    sim.add_fault(hang_up);
    const Finished done = monitor.finish(20'000);

    EXPECT_EQ(done.exit_code, 1) << "readings were lost";
    const auto lines = lines_of(done.out);
    ASSERT_EQ(lines.size(), kRows + 1u) << done.out;
    int gap = 0, resumed = 0;
    for (int k = 1; k <= kRows; ++k) {
        const std::string& row = lines[k];
        SCOPED_TRACE(row);
        EXPECT_GE(elapsed_of(row), (k - 1) * kInterval - 0.001) << "never early";
        EXPECT_LE(elapsed_of(row), (k - 1) * kInterval + 0.4) << "the schedule holds";
        const bool empty = row.ends_with(",,");
        if (empty) {
            EXPECT_EQ(resumed, 0) << "one gap only";
            ++gap;
        } else if (gap > 0) {
            EXPECT_TRUE(row.ends_with(",12.5,0"));
            ++resumed;
        }
    }
    EXPECT_GE(gap, 1);
    EXPECT_GE(resumed, 1);
    const auto count = [&](const std::string& part) {
        std::size_t n = 0;
        for (auto at = done.err.find(part); at != std::string::npos;
             at = done.err.find(part, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count("lost the line " + device), 1u) << done.err;
    EXPECT_EQ(count(device + " is back"), 1u) << done.err;
}

TEST_P(MonitorAcrossHangUp, NoReconnectStopsAtTheLossWithExitOne) {
    const std::string link =
        ::testing::TempDir() + "qk42rt-monitor-noreconnect-" + std::to_string(getpid());
    sim::Options options;
    if (over_tcp()) {
        options.pty = false;
        options.tcp_listen = "127.0.0.1:0";
    } else {
        options.link_path = link;
    }
    sim::Simulator sim(options);
    sim::FaultRule hang_up;
    hang_up.kind = sim::FaultKind::hang_up;
    hang_up.count = 1;
    sim.add_fault(hang_up);
    const std::string device = over_tcp() ? "tcp://" + sim.tcp_address() : link;
    const Finished done = run_client(
        kClient, {"--device", device, "monitor", "1", "--interval", "100", "--no-reconnect"});
    EXPECT_EQ(done.exit_code, 1);
    EXPECT_EQ(lines_of(done.out).size(), 2u) << done.out;
    EXPECT_TRUE(contains(done.err, "lost the line")) << done.err;
    EXPECT_FALSE(contains(done.err, "again")) << done.err;
}

INSTANTIATE_TEST_SUITE_P(PtyAndTcp, MonitorAcrossHangUp, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "tcp" : "pty"; });

TEST(ClientWithoutInstrument, HelpExitsZero) {
    const Finished global = run_client(kClient, {"--help"});
    EXPECT_EQ(global.exit_code, 0);
    for (const char* name : {"status", "monitor", "demo", "ratio-total", "keylock"}) {
        EXPECT_TRUE(contains(global.out, name)) << name;
    }
    const Finished one = run_client(kClient, {"monitor", "--help"});
    EXPECT_EQ(one.exit_code, 0);
    EXPECT_TRUE(contains(one.out, "--interval")) << one.out;
}

// --version answers alone, whatever else is on the line, and opens nothing.
TEST(ClientWithoutInstrument, VersionIsPrintedAndNothingElseRuns) {
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"--version"},
          {"--device", "/nonexistent/line", "--version", "status"}}) {
        const Finished done = run_client(kClient, words);
        EXPECT_EQ(done.exit_code, 0) << done.err;
        EXPECT_EQ(done.out, "qk42rt " QK42RT_TEST_VERSION "\n");
        EXPECT_EQ(done.err, "");
    }
}

TEST(ClientWithoutInstrument, DemoRunsToCompletion) {
    const Finished done = run_client(kClient, {"demo"});
    EXPECT_EQ(done.exit_code, 0) << done.out << done.err;
    EXPECT_TRUE(contains(done.out, "8A 01 0A 05 23  ->  0A")) << done.out;
    EXPECT_TRUE(contains(done.out, "All operations ran as expected.")) << done.out;
}

}  // namespace
}  // namespace qk42rt::testing
