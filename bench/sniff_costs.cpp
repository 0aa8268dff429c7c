// `qk42rt sniff` in front of the simulator: what the relay adds to an exchange, against the same
// exchange straight to the same simulator, on a pseudo-terminal and on a line paced at 9600 baud.
// The simulator's line has one opener at a time, so direct and relayed turns alternate, each
// relayed turn with a sniff of its own.
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

#include "bare_line.h"
#include "child_process.h"
#include "clocks.h"
#include "operations.h"
#include "phases.h"
#include "simulator_process.h"
#include "stats.h"

namespace qk42rt::bench {
namespace {

constexpr int kTurns = 5;

// Times `count` exchanges of `op` on `device`, in microseconds; counts failures.
void time_exchanges(const std::string& device, const Operation& op, int count,
                    std::vector<double>& times, int& failures) {
    BareLine line(device);
    std::uint8_t reply[8] = {};
    for (int i = 0; i < count; ++i) {
        const double start = wall_us();
        if (line.exchange(op.request, {reply, op.reply_length}) != op.reply_length) ++failures;
        times.push_back(wall_us() - start);
    }
}

// sniff relaying `device` to a pseudo-terminal at `link`, its decoded lines thrown away.
class Sniff {
  public:
    Sniff(const std::string& client, const std::string& device, const std::string& link)
        : child_({"/bin/sh", "-c", "exec \"$@\" >/dev/null", "sh", client, "--device", device,
                  "sniff", "--link", link}) {
        for (int i = 0; i < 500; ++i) {
            struct stat info {};
            if (lstat(link.c_str(), &info) == 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        throw std::runtime_error("qk42rt sniff made no link at " + link);
    }
    ~Sniff() {
        child_.signal(SIGINT);
        child_.wait(5000);
    }

  private:
    ChildProcess child_;
};

}  // namespace

void sniff_costs(const Settings& settings, Report& report) {
    if (settings.client.empty()) {
        report.note("qk42rt sniff was not measured: no --client given.");
        return;
    }
    char dir_template[] = "/tmp/qk42rt-bench-sniff-XXXXXX";
    if (!mkdtemp(dir_template)) throw std::runtime_error("mkdtemp failed");
    const std::string link = std::string(dir_template) + "/host";
    const Operation& op = timed_operations().front();  // QK42RT_ReadFlow's exchange

    std::vector<Row> rows;
    for (const bool paced : {false, true}) {
        SimulatorProcess simulator(settings.simulator, paced ? std::vector<std::string>{"--pace"}
                                                             : std::vector<std::string>{});
        const int per_turn = std::max(1, (paced ? settings.paced_calls : settings.calls) / kTurns);
        std::vector<double> direct;
        std::vector<double> relayed;
        int failures = 0;
        for (int turn = 0; turn < kTurns; ++turn) {
            time_exchanges(simulator.slave_path(), op, per_turn, direct, failures);
            const Sniff sniff(settings.client, simulator.slave_path(), link);
            time_exchanges(link, op, per_turn, relayed, failures);
        }
        const Summary straight = summarize(direct);
        const Summary through = summarize(relayed);
        const double added_ms = (through.median - straight.median) / 1e3;
        const double added_percent = 100.0 * (through.median - straight.median) / straight.median;
        if (paced) {
            report.target("sniff: added to an exchange on a line paced at 9600 baud",
                          fixed(added_percent, 2) + " % (" + fixed(added_ms, 3) + " ms)", "≤ 2 %",
                          added_percent <= 2.0 && failures == 0);
        } else {
            report.target("sniff: added to an exchange on a pseudo-terminal",
                          fixed(added_ms, 3) + " ms", "≤ 0.2 ms", added_ms <= 0.2 && failures == 0);
        }
        rows.push_back({paced ? "paced at 9600 baud" : "pseudo-terminal",
                        std::to_string(direct.size()), fixed(straight.median / 1e3, 3),
                        fixed(through.median / 1e3, 3), fixed(through.p99 / 1e3, 3),
                        fixed(added_ms, 3), fixed(added_percent, 2), std::to_string(failures)});
    }
    std::filesystem::remove_all(dir_template);
    report.section(
        "qk42rt sniff in the line",
        "The bare exchange of " + op.name + " (" + std::to_string(op.request.size()) + " + " +
            std::to_string(op.reply_length) +
            " bytes) straight to the simulator and through qk42rt sniff relaying to it, in "
            "alternating turns of equal length on the same simulator; times in milliseconds.",
        {"Line", "Exchanges each", "Direct median", "Through sniff median", "Through sniff p99",
         "Added", "Added %", "Failed"},
        rows);
}

}  // namespace qk42rt::bench
