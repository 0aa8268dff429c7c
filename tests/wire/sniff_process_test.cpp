// `qk42rt sniff` between real hosts and the simulator: every byte relayed, every exchange
// decoded as the hosts made it, faults named for what they are, and the relay's cost.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "commands/commands.h"
#include "port/open_port.h"
#include "support/ser2net.h"
#include "wire_processes.h"

namespace qk42rt::testing {
namespace {

using Words = std::vector<std::string>;

// In a sanitizer build the library under test carries the ASan runtime into hosts that do not
// (the C host behind the preload, Python); harmless elsewhere.
const char* const kNoAsanOrder = "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0";

// The simulator on a pseudo-terminal (and TCP), and sniff in front of it.
class Sniffed {
  public:
    explicit Sniffed(Words sim_args = {}, bool json = true, const std::string& device = "") {
        sim_args.insert(sim_args.end(), {"--link", dir / "sim", "--time-constant", "0", "--tcp",
                                         "127.0.0.1:0", "--transcript", dir / "sim.log"});
        sim = std::make_unique<Started>(kSimulator, sim_args, 2);
        tcp = "tcp://" + lines_of(sim->child().so_far(0).out).at(1).substr(5);
        Words args{"--device",
                   device.empty() ? dir / "sim" : device,
                   "sniff",
                   "--link",
                   host_link(),
                   "--record",
                   dir / "record.jsonl"};
        if (json) args.insert(args.begin(), "--json");
        sniff = std::make_unique<Started>(kClient, args);
    }
    bool ready() const { return sim->ready() && sniff->ready(); }
    std::string host_link() const { return dir / "host"; }
    Finished client(Words args) {
        args.insert(args.begin(), {"--device", host_link()});
        return run_client(kClient, args);
    }
    Finished stop() { return sniff->stop(); }

    // What the simulator read and wrote, from its transcript: "rx 83 00" / "tx 00 ...".
    std::vector<std::string> sim_bytes(const std::string& direction) const {
        std::ifstream in(dir / "sim.log");
        std::vector<std::string> found;
        for (std::string line; std::getline(in, line);) {
            const auto at = line.find(" " + direction + " ");
            if (at == std::string::npos) continue;
            std::string bytes = line.substr(at + direction.size() + 2);
            bytes = bytes.substr(0, bytes.find("  ("));
            found.push_back(bytes);
        }
        return found;
    }

    TempDir dir;
    std::unique_ptr<Started> sim;
    std::string tcp;
    std::unique_ptr<Started> sniff;
};

TEST(Sniff, TheCHostsCallsDecodeByteForByte) {
    Sniffed s;
    ASSERT_TRUE(s.ready());
    ASSERT_EQ(s.client({"onoff", "0xFF"}).exit_code, 0);
    for (int channel = 1; channel <= 8; ++channel) {
        ASSERT_EQ(s.client({"setpoint", std::to_string(channel), std::to_string(channel) + ".5"})
                      .exit_code,
                  0);
    }
    // The unchanged C host, its port 57 mapped to the sniffer's line by the preload.
    const Finished host = run_client(
        "/usr/bin/env", {kNoAsanOrder, "LD_PRELOAD=" QK42RT_PORTMAP,
                         "QK42RT_PORT_MAP=57=" + s.host_link(), QK42RT_C_HOST, "57", "1"});
    ASSERT_EQ(host.exit_code, 0) << host.err;
    const Finished sniffed = s.stop();
    EXPECT_EQ(sniffed.exit_code, 0) << sniffed.err;

    const auto exchanges = exchanges_of(sniffed.out);
    ASSERT_EQ(exchanges.size(), 17u) << sniffed.out;
    const auto host_lines = lines_of(host.out);
    ASSERT_EQ(host_lines.size(), 8u);
    for (int channel = 1; channel <= 8; ++channel) {
        const auto& seen = exchanges[8 + static_cast<std::size_t>(channel)];
        char request[8];
        std::snprintf(request, sizeof request, "83 %02X", channel - 1);
        EXPECT_EQ(seen["request"], request);
        EXPECT_EQ(seen["operation"], "read flow");
        EXPECT_EQ(seen["arguments"]["channel"], channel);
        // The host printed "channel N: flow F status S" from the very same reply.
        char printed[64];
        std::snprintf(printed, sizeof printed, "channel %d: flow %g status %d", channel,
                      seen["result"]["flow"].get<double>(), seen["result"]["status"].get<int>());
        EXPECT_EQ(host_lines[static_cast<std::size_t>(channel) - 1], printed);
        EXPECT_TRUE(kinds_of(seen).empty()) << seen.dump();
    }
    // Byte for byte what the simulator read and wrote.
    const auto rx = s.sim_bytes("rx");
    const auto tx = s.sim_bytes("tx");
    ASSERT_EQ(rx.size(), exchanges.size());
    ASSERT_EQ(tx.size(), exchanges.size());
    for (std::size_t i = 0; i < exchanges.size(); ++i) {
        EXPECT_EQ(exchanges[i]["request"], rx[i]);
        EXPECT_EQ(exchanges[i]["reply"], tx[i]);
        EXPECT_EQ(exchanges[i]["valid"], true) << exchanges[i].dump();
    }
    EXPECT_TRUE(contains(sniffed.err, "17 exchanges, 0 with trouble")) << sniffed.err;
    EXPECT_TRUE(contains(sniffed.err, "reply latency median")) << sniffed.err;
}

// A script on the line at `link`, talking to the instrument at `address`.
Finished python_host(const std::string& link, int address) {
    const std::string script =
        "import qk42\n"
        "with qk42.open('" +
        link +
        "') as line:\n"
        "    inst = line.instrument(" +
        std::to_string(address) +
        ")\n"
        "    inst.set_setpoint(3, 12.5)\n"
        "    print(inst.setpoint(3).value)\n"
        "    print(inst.version().text)\n";
    return run_client("/usr/bin/env", {kNoAsanOrder, "QK42_LIBRARY=" QK42_LIBRARY_PATH,
                                       "PYTHONPATH=" QK42_PYTHONPATH, "PYTHONDONTWRITEBYTECODE=1",
                                       "/usr/bin/python3", "-c", script});
}

TEST(Sniff, APythonHostsCallsDecode) {
    Sniffed s({}, false);
    ASSERT_TRUE(s.ready());
    const Finished ok = python_host(s.host_link(), 1);
    ASSERT_EQ(ok.exit_code, 0) << ok.err;
    EXPECT_EQ(ok.out, "12.5\n1.2\n");
    const Finished seen = s.stop();
    for (const char* line :
         {"8E 02 00 00 00 48 41 -> 0E", "set setpoint  address 1  channel 3  12.5  -> acknowledged",
          "84 02 -> 00 00 00 48 41",
          "read setpoint  address 1  channel 3  -> status 0, setpoint 12.5",
          "80 00 -> 31 2E 32 43 08 01", "read version  address 1  -> version 1.2, kind C, info 8 1",
          "event: line opened", "event: line hung up"}) {
        EXPECT_TRUE(contains(seen.out, line)) << line << " missing in:\n" << seen.out;
    }
}

TEST(Sniff, APythonHostsFailureIsSeenOnTheWire) {
    Sniffed s({}, false);
    ASSERT_TRUE(s.ready());
    // Address 2 is not simulated: the first call gets no reply, and the host says so.
    const Finished host = python_host(s.host_link(), 2);
    const Finished sniffed = s.stop();
    EXPECT_NE(host.exit_code, 0);
    EXPECT_TRUE(contains(host.err, "NoReply")) << host.err;
    EXPECT_TRUE(
        contains(sniffed.out,
                 "9E 02 00 00 00 48 41 -> (nothing)  -  set setpoint  address 2  channel 3  "
                 "12.5  -> failed: no reply: 0 of 1 bytes within 500 ms"))
        << sniffed.out;
}

struct FaultCase {
    const char* fault;
    Words client;
    std::vector<std::vector<std::string>> kinds;  // of each exchange, in order
    // Replies the simulator writes in all, some after the host is done: sniff must have seen
    // them before it stops, or a late reply's follower is not there to be flagged.
    std::size_t replies = 0;
};

TEST(Sniff, FaultsAreFlaggedAsWhatTheyAre) {
    const FaultCase cases[] = {
        {"no-reply:code=0x3,count=1", {"flow", "1"}, {{"no_reply"}}},
        {"short-reply:code=0x3,count=1", {"flow", "1"}, {{"short_reply"}}},
        {"wrong-ack:code=0xE,count=1", {"setpoint", "1", "5"}, {{"wrong_ack"}}},
        {"garbage:code=0x3,count=1,extra=2", {"flow", "1"}, {{"stray_bytes"}}},
        {"surplus:code=0x3,count=1,extra=3", {"flow", "1"}, {{"stray_bytes"}}},
        // The reply comes 600 ms late, while the host's next request waits for its own.
        {"late-reply:code=0x3,count=1,delay=600",
         {"monitor", "1", "--count", "2", "--interval", "0", "--csv"},
         {{"no_reply"}, {"late_reply"}},
         2},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.fault);
        Sniffed s({"--fault", c.fault});
        ASSERT_TRUE(s.ready());
        s.client(c.client);
        if (c.replies > 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (s.sim_bytes("tx").size() < c.replies &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            // The simulator wrote its last reply; sniff relays it within a moment (a slow
            // sanitized build included), and no event marks that moment from outside.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        const Finished sniffed = s.stop();
        const auto exchanges = exchanges_of(sniffed.out);
        ASSERT_EQ(exchanges.size(), c.kinds.size()) << sniffed.out;
        for (std::size_t i = 0; i < exchanges.size(); ++i) {
            EXPECT_EQ(kinds_of(exchanges[i]), c.kinds[i]) << exchanges[i].dump();
        }
        EXPECT_EQ(sniffed.exit_code, 0);
    }
}

TEST(Sniff, RelaysEveryKindOfDevice) {
    std::vector<std::string> kinds = {"path", "tcp"};
    if (access(kSer2netProgram.c_str(), X_OK) == 0) kinds.push_back("rfc2217");
    for (const std::string& kind : kinds) {
        SCOPED_TRACE(kind);
        // The simulator first, to learn its addresses; sniff then opens the kind asked for.
        TempDir dir;
        Started sim(kSimulator,
                    {"--link", dir / "sim", "--time-constant", "0", "--tcp", "127.0.0.1:0"}, 2);
        ASSERT_TRUE(sim.ready());
        std::string device = dir / "sim";
        std::unique_ptr<Ser2net> ser2net;
        if (kind == "tcp") device = "tcp://" + lines_of(sim.child().so_far(0).out).at(1).substr(5);
        if (kind == "rfc2217") {
            ser2net = std::make_unique<Ser2net>(dir / "sim", Ser2net::Mode::rfc2217);
            device = ser2net->url();
        }
        Started sniff(kClient, {"--device", device, "sniff", "--link", dir / "host"});
        ASSERT_TRUE(sniff.ready());
        const std::string host = dir / "host";
        EXPECT_EQ(run_client(kClient, {"--device", host, "maxflow", "2", "250", "1"}).exit_code, 0);
        const Finished read = run_client(kClient, {"--device", host, "maxflow", "2"});
        EXPECT_EQ(read.exit_code, 0) << read.err;
        const Finished sniffed = sniff.stop();
        EXPECT_EQ(sniffed.exit_code, 0) << sniffed.err;
        EXPECT_TRUE(contains(sniffed.out, "8F 01 00 00 00 7A 43 01 -> 0F")) << sniffed.out;
        EXPECT_TRUE(contains(sniffed.out,
                             "set maxflow  address 1  channel 2  250  code 1  -> acknowledged"));
        EXPECT_TRUE(
            contains(sniffed.out, "read maxflow  address 1  channel 2  -> status 0, maxflow 250"));
        EXPECT_FALSE(contains(sniffed.out, "!!")) << sniffed.out;
    }
}

TEST(Sniff, TheHostMayOpenAndCloseItsSideAgainAndAgain) {
    Sniffed s({}, false);
    ASSERT_TRUE(s.ready());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(s.client({"onoff"}).exit_code, 0);
    const Finished sniffed = s.stop();
    const auto lines = lines_of(sniffed.out);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "event: line opened"), 3);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "event: line hung up"), 3);
    std::size_t exchanges = 0;
    for (const auto& line : lines) exchanges += contains(line, "8B -> 00  ") ? 1 : 0;
    EXPECT_EQ(exchanges, 3u) << sniffed.out;
}

TEST(Sniff, TheDeviceGoingAwayEndsItWithStatusOne) {
    Sniffed s;
    ASSERT_TRUE(s.ready());
    s.sim->stop(SIGTERM);
    const Finished sniffed = s.sniff->child().finish(5000);
    EXPECT_EQ(sniffed.exit_code, 1);
    EXPECT_TRUE(contains(sniffed.err, "went away")) << sniffed.err;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(s.host_link())))
        << "the link stays behind";
}

TEST(Sniff, RefusesWhatItCannotDo) {
    TempDir dir;
    const Finished no_device =
        run_client(kClient, {"--device", dir / "none", "sniff", "--link", dir / "host"});
    EXPECT_EQ(no_device.exit_code, 1);
    EXPECT_TRUE(contains(no_device.err, "cannot open")) << no_device.err;
    const Finished no_link = run_client(kClient, {"--device", dir / "none", "sniff"});
    EXPECT_EQ(no_link.exit_code, 2);
    EXPECT_TRUE(contains(no_link.err, "--link")) << no_link.err;
    EXPECT_EQ(
        run_client(kClient, {"--device", dir / "x", "--link", dir / "y", "flow", "1"}).exit_code,
        2);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Exchange times of the library on a line, in microseconds.
std::vector<double> exchange_times(const std::string& device, int count) {
    OpenResult opened = open_device(device);
    EXPECT_EQ(opened.status, OpenStatus::opened) << device << ": " << opened.reason;
    std::vector<double> times;
    if (!opened.port) return times;
    protocol::Line line(opened.port.get());
    for (int i = 0; i < count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const auto flow = commands::read_flow(line, 1, 1 + i % 8);
        times.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
        EXPECT_TRUE(flow.ok());
    }
    return times;
}

// Printed, never asserted: a loaded machine may take longer, and that is no fault. The
// simulator's line is held by one opener at a time, so direct and relayed rounds take turns.
TEST(Sniff, RelayCostPerExchange) {
    TempDir dir;
    Started sim(kSimulator, {"--link", dir / "sim", "--time-constant", "0"});
    ASSERT_TRUE(sim.ready());
    constexpr int kRounds = 4;
    constexpr int kPerRound = 50;
    std::vector<double> direct;
    std::vector<double> relayed;
    std::string summaries;
    for (int round = 0; round < kRounds; ++round) {
        const auto d = exchange_times(dir / "sim", kPerRound);
        direct.insert(direct.end(), d.begin(), d.end());
        Started sniff(kClient, {"--device", dir / "sim", "sniff", "--link", dir / "host"});
        ASSERT_TRUE(sniff.ready());
        const auto r = exchange_times(dir / "host", kPerRound);
        relayed.insert(relayed.end(), r.begin(), r.end());
        const Finished sniffed = sniff.stop();
        EXPECT_EQ(sniffed.exit_code, 0);
        EXPECT_TRUE(contains(sniffed.err, std::to_string(kPerRound) + " exchanges, 0 with trouble"))
            << sniffed.err;
        summaries += sniffed.err;
    }
    std::printf("exchange median: direct %.1f us, through sniff %.1f us, added %.1f us\n%s",
                median(direct), median(relayed), median(relayed) - median(direct),
                summaries.c_str());
    EXPECT_EQ(relayed.size(), static_cast<std::size_t>(kRounds * kPerRound));
}

}  // namespace
}  // namespace qk42rt::testing
