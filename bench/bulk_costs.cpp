// Many readings in a row on the paced line, as `status` and `monitor` take them, against the
// rate the line allows; and `qk42rt sniff` relaying the simulator's line, against the same
// exchange straight to it.
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "bench.h"
#include "protocol/request.h"
#include "qk42rt.h"
#include "support/sim_process.h"
#include "wire.h"

namespace qk42rt::bench {
namespace {

double exchange_us(const protocol::Operation& operation) {
    const auto command = protocol::command_of(operation);
    return line_us(command.request_length + command.reply_length);
}

// One reading of each of the three values of the eight channels: 24 calls; failures.
int status_walk() {
    int failures = 0;
    for (int channel = 1; channel <= 8; ++channel) {
        float value = 0.0f;
        int status = 0;
        failures += QK42RT_ReadFlow(1, channel, &value, &status) != 1;
        failures += QK42RT_ReadSetpoint(1, channel, &value, &status) != 1;
        failures += QK42RT_ReadMaxflow(1, channel, &value, &status) != 1;
    }
    return failures;
}

struct ClientRun {
    double seconds = 0.0;
    long lines = 0;
    int exit = -1;
};

// Runs the client to its end, or for `seconds` and then SIGTERM; one that has not ended 30 s
// after that is killed. Its output is read as it comes, so that a full pipe never slows it.
ClientRun run_client(const std::string& client, const std::vector<std::string>& args,
                     double seconds) {
    const double start = wall_us();
    testing::ChildProcess child(client, args, {.input = false, .capture_stderr = false});
    if (seconds > 0) {
        while (!child.output_ended() && wall_us() - start < seconds * 1e6) child.so_far(100);
        child.send_signal(SIGTERM);
    }
    const testing::Finished done = child.finish(30'000);
    return {(wall_us() - start) / 1e6, std::count(done.out.begin(), done.out.end(), '\n'),
            done.exit_code};
}

}  // namespace

void bulk_reading(const Settings& settings, Report& report) {
    testing::SimProcess simulator(settings.simulator, {"--pace"});
    std::vector<Row> rows;
    // "Rate / limit" from readings per second against the line's own rate for them.
    const auto add = [&rows](Row lead, double rate, double limit, const std::string& cpu,
                             const std::string& failed) {
        lead.insert(lead.end(), {fixed(rate, 1) + " / " + fixed(limit, 1), fixed(rate / limit, 2),
                                 cpu, failed});
        rows.push_back(std::move(lead));
    };
    const double reading_us = exchange_us(protocol::op::ReadFlow{});  // setpoint, maxflow alike
    {
        const LegacyPort port(simulator.device());
        Samples walks;
        int failures = 0;
        time_calls(settings.statuses, walks, [&] {
            const int failed = status_walk();
            failures += failed;
            return failed == 0;
        });
        const double walk_ms = summarize(walks.wall_us).median / 1e3;
        add({"status, exported functions (24 readings)",
             std::to_string(settings.statuses) + " walks", fixed(walk_ms, 1) + " ms",
             fixed(24 * reading_us / 1e3, 1) + " ms"},
            24e3 / walk_ms, 1e6 / reading_us, "-", std::to_string(failures));

        // The monitor at the shortest interval: the eight flows, over and over.
        Samples monitor;
        int channel = 0;
        const double start = wall_us();
        while (wall_us() - start < settings.monitor_seconds * 1e6) {
            time_calls(8, monitor, [&] {
                float flow = 0.0f;
                int status = 0;
                channel = channel % 8 + 1;
                return QK42RT_ReadFlow(1, channel, &flow, &status) == 1;
            });
        }
        const double seconds = (wall_us() - start) / 1e6;
        const std::size_t calls = monitor.wall_us.size();
        add({"monitor, exported functions, no pause", fixed(seconds, 1) + " s",
             std::to_string(calls) + " calls", "-"},
            calls / seconds, 1e6 / reading_us, fixed(monitor.cpu_us / seconds / 1e4, 2) + " %",
            std::to_string(monitor.failures));
    }
    // The client takes the line for itself, so the library holds no port meanwhile. Its status
    // reads per channel the flow, setpoint, maxflow and unit.
    const std::string device = simulator.device();
    const ClientRun status = run_client(settings.client, {"--device", device, "status"}, 0);
    const double status_line_us = 8 * (3 * reading_us + exchange_us(protocol::op::ReadUnit{}));
    add({"qk42rt status (32 readings, with process start)", "1 run",
         fixed(status.seconds * 1e3, 1) + " ms", fixed(status_line_us / 1e3, 1) + " ms"},
        32 / status.seconds, 32e6 / status_line_us, "-", "exit " + std::to_string(status.exit));
    const ClientRun monitor =
        run_client(settings.client, {"--device", device, "monitor", "--interval", "0", "--csv"},
                   settings.monitor_seconds);
    const long readings = 8 * std::max(0L, monitor.lines - 1);  // less the CSV header
    add({"qk42rt monitor --interval 0 --csv", fixed(monitor.seconds, 1) + " s",
         std::to_string(readings) + " calls", "-"},
        readings / monitor.seconds, 1e6 / reading_us, "-", "exit " + std::to_string(monitor.exit));
    report.section("Bulk reading on the paced line",
                   "Rate: readings per second against the line's limit for them (request and "
                   "reply at ten bits a byte, 9600 bit/s).",
                   {"Run", "Length", "Time / calls", "Line minimum", "Rate (per s)",
                    "Rate / line's limit", "CPU / wall", "Failed"},
                   rows);
}

void sniff_costs(const Settings& settings, Report& report) {
    char dir[] = "/tmp/qk42rt-bench-sniff-XXXXXX";
    if (!mkdtemp(dir)) throw std::runtime_error("mkdtemp failed");
    const std::string link = std::string(dir) + "/host";
    const Operation& op = operations().front();
    constexpr int kTurns = 5;
    std::vector<Row> rows;
    for (const bool paced : {false, true}) {
        testing::SimProcess simulator(settings.simulator, paced ? std::vector<std::string>{"--pace"}
                                                                : std::vector<std::string>{});
        const int per_turn = std::max(1, (paced ? settings.paced_calls : settings.calls) / kTurns);
        Samples direct, relayed;
        const auto exchanges = [&](const std::string& device, Samples& out) {
            BareLine line(device);
            time_calls(per_turn, out, [&] { return line.exchange(op); });
        };
        // The simulator's line has one opener at a time: direct and relayed turns alternate,
        // each relayed one through a sniff of its own, its decoded lines thrown away.
        for (int turn = 0; turn < kTurns; ++turn) {
            exchanges(simulator.device(), direct);
            testing::ChildProcess sniff("/bin/sh",
                                        {"-c", "exec \"$@\" >/dev/null", "sh", settings.client,
                                         "--device", simulator.device(), "sniff", "--link", link},
                                        {.input = false, .capture_stderr = false});
            struct stat made {};
            wait_until(5, [&] { return lstat(link.c_str(), &made) == 0; });
            exchanges(link, relayed);
            sniff.send_signal(SIGINT);
            sniff.finish(5000);
        }
        const Summary straight = summarize(direct.wall_us);
        const Summary through = summarize(relayed.wall_us);
        const double added_ms = (through.median - straight.median) / 1e3;
        const double added_percent = 100.0 * (through.median - straight.median) / straight.median;
        const std::size_t failed = direct.failures + relayed.failures;
        if (paced) {
            report.target("sniff: added to an exchange on a line paced at 9600 baud",
                          fixed(added_percent, 2) + " % (" + fixed(added_ms, 3) + " ms)", "≤ 2 %",
                          added_percent <= 2.0 && failed == 0);
        } else {
            report.target("sniff: added to an exchange on a pseudo-terminal",
                          fixed(added_ms, 3) + " ms", "≤ 0.2 ms", added_ms <= 0.2 && failed == 0);
        }
        rows.push_back({paced ? "paced at 9600 baud" : "pseudo-terminal",
                        std::to_string(straight.count), fixed(straight.median / 1e3, 3),
                        fixed(through.median / 1e3, 3), fixed(through.p99 / 1e3, 3),
                        fixed(added_ms, 3), fixed(added_percent, 2), std::to_string(failed)});
    }
    std::filesystem::remove_all(dir);
    report.section("qk42rt sniff in the line",
                   "The bare exchange of " + op.name + " (" + std::to_string(op.request.size()) +
                       " + " + std::to_string(op.reply_length) +
                       " bytes) straight to the simulator and through qk42rt sniff relaying to "
                       "it, in alternating turns of equal length; times in milliseconds.",
                   {"Line", "Exchanges each", "Direct median", "Through sniff median",
                    "Through sniff p99", "Added", "Added %", "Failed"},
                   rows);
}

}  // namespace qk42rt::bench
