// A line paced at 9600 baud: what each call costs beyond the line's own time.
#include <stdexcept>
#include <vector>

#include "bare_line.h"
#include "clocks.h"
#include "operations.h"
#include "phases.h"
#include "port_seam.h"
#include "qk42rt.h"
#include "simulator_process.h"
#include "stats.h"

namespace qk42rt::bench {

void paced_line(const Settings& settings, Report& report) {
    SimulatorProcess simulator(settings.simulator, {"--pace"});
    BareLine bare(simulator.slave_path());
    point_port_at(simulator.slave_path());
    if (QK42RT_InitPort(kBenchPort) != 1) throw std::runtime_error("QK42RT_InitPort failed");

    std::vector<Row> rows;
    for (const Operation& op : timed_operations()) {
        std::vector<double> library_us;
        std::vector<double> bare_us;
        int failures = 0;
        std::uint8_t reply[8] = {};
        // Turns of ten calls each, so that drift hits both alike.
        for (int done = 0; done < settings.paced_calls; done += 10) {
            for (int i = 0; i < 10; ++i) {
                const double start = wall_us();
                if (op.call() != op.success) ++failures;
                library_us.push_back(wall_us() - start);
            }
            for (int i = 0; i < 10; ++i) {
                const double start = wall_us();
                if (bare.exchange(op.request, {reply, op.reply_length}) != op.reply_length) {
                    ++failures;
                }
                bare_us.push_back(wall_us() - start);
            }
        }
        const Summary lib = summarize(library_us);
        const Summary raw = summarize(bare_us);
        const double line_us = line_minimum_us(op);
        const double over_line_ms = (lib.median - line_us) / 1e3;
        const double over_bare_ms = (lib.median - raw.median) / 1e3;
        report.target(op.name + ": paced, over the line's minimum",
                      fixed(over_line_ms, 3) + " ms (" + fixed(over_bare_ms, 3) + " ms over bare)",
                      "≤ 0.3 ms", over_line_ms <= 0.3 && over_bare_ms <= 0.3 && failures == 0);
        rows.push_back({op.name,
                        std::to_string(op.request.size()) + " + " + std::to_string(op.reply_length),
                        fixed(line_us / 1e3, 3), fixed(lib.median / 1e3, 3),
                        fixed(lib.p99 / 1e3, 3), fixed(raw.median / 1e3, 3), fixed(over_line_ms, 3),
                        fixed(over_bare_ms, 3), std::to_string(failures)});
    }
    QK42RT_ClosePort();
    report.section(
        "Line paced at 9600 baud",
        "Times in milliseconds per call, median over " + std::to_string(settings.paced_calls) +
            " calls each. Line minimum: request and reply bytes at ten bits each, "
            "9600 bit/s. The simulator answers only when the request would have "
            "arrived on a real line and delivers each reply byte one byte time after "
            "the last. Library − line minimum is what the library and the simulator "
            "add to the line's own time; library − bare isolates the library.",
        {"Operation", "Bytes (request + reply)", "Line minimum", "Library median", "Library p99",
         "Bare median", "Library − line minimum", "Library − bare", "Failed"},
        rows);
}

}  // namespace qk42rt::bench
