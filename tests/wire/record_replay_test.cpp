// A session recorded by the client and played back by the simulator: the same commands
// against the replay print the same values, faults and TCP still work, and what was never
// recorded gets no reply.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "wire_processes.h"

namespace qk42rt::testing {
namespace {

using Words = std::vector<std::string>;

// monitor's CSV without its two time columns.
std::vector<std::string> values_of(const std::string& csv) {
    std::vector<std::string> values;
    for (const std::string& line : lines_of(csv)) {
        const auto second_comma = line.find(',', line.find(',') + 1);
        values.push_back(line.substr(second_comma + 1));
    }
    return values;
}

Finished monitor(const std::string& device, Words extra = {}) {
    Words args{"--device", device, "monitor",    "1", "2",    "3",
               "--count",  "6",    "--interval", "0", "--csv"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_client(kClient, args);
}

TEST(RecordReplay, AMonitorSessionPlaysBackWithTheSameValues) {
    TempDir dir;
    const std::string recording = dir / "monitor.jsonl";
    Finished recorded;
    {
        // Noise, so that every reading differs and only the recorded order reproduces them.
        Started sim(kSimulator,
                    {"--link", dir / "sim", "--time-constant", "0", "--noise", "2", "--seed", "7"});
        ASSERT_TRUE(sim.ready());
        ASSERT_EQ(run_client(kClient, {"--device", dir / "sim", "onoff", "0xFF"}).exit_code, 0);
        ASSERT_EQ(run_client(kClient, {"--device", dir / "sim", "setpoint", "2", "30"}).exit_code,
                  0);
        recorded = monitor(dir / "sim", {"--record", recording});
        ASSERT_EQ(recorded.exit_code, 0) << recorded.err;
    }
    std::ifstream file(recording);
    const std::string lines(std::istreambuf_iterator<char>(file), {});
    EXPECT_EQ(lines_of(lines).size(), 18u) << lines;  // six samples of three channels

    Started replay(kSimulator, {"--replay", recording, "--link", dir / "replay", "--transcript",
                                dir / "replay.log"});
    ASSERT_TRUE(replay.ready());
    const Finished replayed = monitor(dir / "replay");
    EXPECT_EQ(replayed.exit_code, 0) << replayed.err;
    EXPECT_EQ(values_of(replayed.out), values_of(recorded.out)) << recorded.out << replayed.out;
    EXPECT_EQ(lines_of(recorded.out).size(), 7u);

    // Channel 4 was never read: no reply, and the transcript says why.
    const Finished unknown = run_client(kClient, {"--device", dir / "replay", "flow", "4"});
    EXPECT_EQ(unknown.exit_code, 1);
    EXPECT_TRUE(contains(unknown.err, "no reply")) << unknown.err;
    std::ifstream log(dir / "replay.log");
    const std::string transcript(std::istreambuf_iterator<char>(log), {});
    EXPECT_TRUE(contains(transcript, "rx 83 03  (not in the recording: no reply)")) << transcript;
    EXPECT_TRUE(contains(transcript, "rx 83 00  (replayed)")) << transcript;
}

struct ReplayCase {
    const char* what;
    Words sim;     // beyond --replay FILE
    Words client;  // after --device
    int exit_code;
    const char* says;  // on stdout (0) or stderr (1)
};

TEST(RecordReplay, FaultsTcpAndRecordedSilenceStillWork) {
    TempDir dir;
    const std::string recording = dir / "hand.jsonl";
    {
        std::ofstream file(recording);
        file
            << R"({"time":"2024-05-01T12:00:00.000Z","request":"8E 00 04 00 00 00 3F","reply":"0E","latency_ms":0.3})"
               "\n"
            << R"({"time":"2024-05-01T12:00:01.000Z","request":"83 00","reply":"","latency_ms":null})"
               "\n"
            << R"({"time":"2024-05-01T12:00:02.000Z","request":"8B","reply":"5A","latency_ms":150})"
               "\n";
    }
    const ReplayCase cases[] = {
        {"a recorded write", {}, {"setpoint", "1", "1"}, 0, "channel 1: setpoint set to 1"},
        {"a fault on a replayed reply",
         {"--fault", "wrong-ack:code=0xE"},
         {"setpoint", "1", "1"},
         1,
         "wrong acknowledge"},
        {"recorded silence", {}, {"flow", "1"}, 1, "no reply"},
        {"over TCP", {"--tcp", "127.0.0.1:0"}, {"onoff"}, 0, "90"},
    };
    for (const ReplayCase& c : cases) {
        SCOPED_TRACE(c.what);
        Words args{"--replay", recording, "--link", dir / "replay"};
        args.insert(args.end(), c.sim.begin(), c.sim.end());
        const bool tcp = !c.sim.empty() && c.sim[0] == "--tcp";
        Started sim(kSimulator, args, tcp ? 2 : 1);
        ASSERT_TRUE(sim.ready());
        const std::string device =
            tcp ? "tcp://" + lines_of(sim.child().so_far(0).out).at(1).substr(5) : dir / "replay";
        Words client{"--device", device};
        client.insert(client.end(), c.client.begin(), c.client.end());
        const Finished done = run_client(kClient, client);
        EXPECT_EQ(done.exit_code, c.exit_code) << done.err;
        EXPECT_TRUE(contains(c.exit_code == 0 ? done.out : done.err, c.says))
            << done.out << done.err;
    }
}

TEST(RecordReplay, TimingKeepsTheRecordedLatencyNeverLess) {
    TempDir dir;
    const std::string recording = dir / "slow.jsonl";
    std::ofstream(recording)
        << R"({"time":"2024-05-01T12:00:02.000Z","request":"8B","reply":"5A","latency_ms":150})"
           "\n";
    for (const bool timing : {false, true}) {
        Words args{"--replay", recording, "--link", dir / "replay"};
        if (timing) args.push_back("--replay-timing");
        Started sim(kSimulator, args);
        ASSERT_TRUE(sim.ready());
        const auto start = std::chrono::steady_clock::now();
        const Finished done = run_client(kClient, {"--device", dir / "replay", "onoff"});
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        EXPECT_EQ(done.exit_code, 0) << done.err;
        if (timing) {
            EXPECT_GE(ms, 150.0);
        }
    }
}

TEST(RecordReplay, TheSimulatorRefusesABadRecording) {
    TempDir dir;
    std::ofstream(dir / "bad.jsonl") << "83 01 -> 00\n";
    const Finished bad = run_client(kSimulator, {"--replay", dir / "bad.jsonl"});
    EXPECT_EQ(bad.exit_code, 1);
    EXPECT_TRUE(contains(bad.err, "bad.jsonl:1: not a recorded exchange")) << bad.err;
    const Finished lonely = run_client(kSimulator, {"--replay-timing"});
    EXPECT_EQ(lonely.exit_code, 2);
}

}  // namespace
}  // namespace qk42rt::testing
