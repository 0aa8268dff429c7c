// An instrument that never answers: each call must wait its full 500 ms, not a moment less,
// hardly more, and without spending CPU on the wait.
#include <stdexcept>
#include <vector>

#include "clocks.h"
#include "operations.h"
#include "phases.h"
#include "port_seam.h"
#include "qk42rt.h"
#include "simulator_process.h"
#include "stats.h"

namespace qk42rt::bench {

void no_reply_waits(const Settings& settings, Report& report) {
    SimulatorProcess simulator(settings.simulator, {"--fault", "no-reply"});
    point_port_at(simulator.slave_path());
    if (QK42RT_InitPort(kBenchPort) != 1) throw std::runtime_error("QK42RT_InitPort failed");

    const Operation& op = timed_operations().front();
    std::vector<double> waits_ms;
    int answered = 0;
    const double cpu_start = cpu_us();
    const double wall_start = wall_us();
    for (int i = 0; i < settings.timeouts; ++i) {
        const double start = wall_us();
        if (op.call() != 0) ++answered;
        waits_ms.push_back((wall_us() - start) / 1e3);
    }
    const double wall_total = wall_us() - wall_start;
    const double cpu_total = cpu_us() - cpu_start;
    QK42RT_ClosePort();

    const Summary s = summarize(waits_ms);
    const double cpu_share = 100.0 * cpu_total / wall_total;
    const std::string ms = " ms";
    report.target("No reply: shortest wait (" + std::to_string(s.count) + " calls)",
                  fixed(s.min, 2) + ms, "≥ 500 ms", s.min >= 500.0 && answered == 0);
    report.target("No reply: median wait", fixed(s.median, 2) + ms, "≤ 503 ms", s.median <= 503.0);
    report.target("No reply: longest wait", fixed(s.max, 2) + ms, "≤ 520 ms", s.max <= 520.0);
    report.target("No reply: CPU during the waits", fixed(cpu_share, 3) + " % of wall", "≤ 1 %",
                  cpu_share <= 1.0);
    report.section(
        "Calls without a reply (" + op.name + ", simulator told to stay silent)", "",
        {"Calls", "Min (ms)", "Median (ms)", "Max (ms)", "CPU (µs, all calls)", "CPU / wall"},
        {{std::to_string(s.count), fixed(s.min, 2), fixed(s.median, 2), fixed(s.max, 2),
          fixed(cpu_total, 0), fixed(cpu_share, 3) + " %"}});
}

}  // namespace qk42rt::bench
