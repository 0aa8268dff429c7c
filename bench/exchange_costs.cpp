// What the library adds to a round trip on a pseudo-terminal, next to the same bytes sent
// straight on the system calls and next to a pyserial script. The three take turns in short
// blocks, so that drift of this shared machine hits all of them alike.
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "bare_line.h"
#include "child_process.h"
#include "contest.h"
#include "operations.h"
#include "phases.h"
#include "port_seam.h"
#include "qk42rt.h"
#include "simulator_process.h"
#include "stats.h"

namespace qk42rt::bench {
namespace {

struct Contest {
    Samples library, bare, python;
};

std::string ratio_text(double ratio) {
    return fixed(ratio, 2);
}

}  // namespace

void exchange_costs(const Settings& settings, Report& report) {
    SimulatorProcess simulator(settings.simulator, {});
    // The bare line and the Python client open the line before the library takes it for
    // itself; the library's exclusive claims only turn away later openers.
    BareLine bare(simulator.slave_path());
    std::unique_ptr<ChildProcess> python;
    try {
        python = std::make_unique<ChildProcess>(std::vector<std::string>{
            settings.python, settings.python_client, simulator.slave_path()});
        if (python->read_line(20'000) != "ready") python.reset();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench: pyserial client not available: %s\n", e.what());
        python.reset();
    }
    point_port_at(simulator.slave_path());
    if (QK42RT_InitPort(kBenchPort) != 1) throw std::runtime_error("QK42RT_InitPort failed");

    const auto& ops = timed_operations();
    std::vector<Contest> contests(ops.size());
    for (auto& c : contests) {
        c.library.wall_us.reserve(static_cast<std::size_t>(settings.calls) + settings.block);
        c.bare.wall_us.reserve(static_cast<std::size_t>(settings.calls) + settings.block);
    }
    // Warm up caches, the page tables and the Python interpreter; not counted.
    for (std::size_t k = 0; k < ops.size(); ++k) {
        Contest warm;
        library_block(ops[k], 20, warm.library);
        bare_block(bare, ops[k], 20, warm.bare);
        if (python) client_block(*python, ops[k].python_name, 20, warm.python);
    }
    const int rounds = (settings.calls + settings.block - 1) / settings.block;
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < ops.size(); ++k) {
            Contest& c = contests[k];
            // The order runs through all six permutations, so that each contender follows each
            // other one equally often: whoever comes right after the Python process pays for the
            // switch back, and a fixed order would charge that to one of them only.
            static constexpr int kOrders[6][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1},
                                                  {0, 2, 1}, {2, 1, 0}, {1, 0, 2}};
            for (const int contender : kOrders[(round + static_cast<int>(k)) % 6]) {
                switch (contender) {
                    case 0:
                        library_block(ops[k], settings.block, c.library);
                        break;
                    case 1:
                        bare_block(bare, ops[k], settings.block, c.bare);
                        break;
                    default:
                        if (python)
                            client_block(*python, ops[k].python_name, settings.block, c.python);
                }
            }
        }
    }
    QK42RT_ClosePort();
    if (python) python->write_line("quit");

    std::vector<Row> rows;
    for (std::size_t k = 0; k < ops.size(); ++k) {
        const Contest& c = contests[k];
        const Summary lib = summarize(c.library.wall_us);
        const Summary raw = summarize(c.bare.wall_us);
        const Summary py = summarize(c.python.wall_us);
        const double wall_ratio = lib.median / raw.median;
        const double cpu_ratio = c.library.cpu_per_call() / c.bare.cpu_per_call();
        const std::string& name = ops[k].name;
        report.target(name + ": library/bare, median wall", ratio_text(wall_ratio), "≤ 1.10",
                      wall_ratio <= 1.10 && c.library.failures == 0);
        report.target(name + ": library/bare, CPU per call", ratio_text(cpu_ratio), "≤ 1.25",
                      cpu_ratio <= 1.25 && c.library.failures == 0);
        if (python) {
            const double py_wall = py.median / lib.median;
            const double py_cpu = c.python.cpu_per_call() / c.library.cpu_per_call();
            report.target(name + ": pyserial/library, median wall", ratio_text(py_wall), "≥ 1.0",
                          py_wall >= 1.0 && c.python.failures == 0);
            report.target(name + ": pyserial/library, CPU per call", ratio_text(py_cpu), "≥ 2",
                          py_cpu >= 2.0 && c.python.failures == 0);
        } else {
            report.target(name + ": pyserial/library", "not measured (no pyserial)", "≥ 1.0, ≥ 2",
                          false);
        }
        const auto add = [&](const std::string& who, const Summary& s, const Samples& samples) {
            rows.push_back({name, who, std::to_string(s.count), fixed(s.median, 1), fixed(s.p99, 1),
                            fixed(samples.cpu_per_call(), 1),
                            fixed(samples.cpu_per_call() - c.bare.cpu_per_call(), 1),
                            std::to_string(samples.failures)});
        };
        add("library", lib, c.library);
        add("bare", raw, c.bare);
        if (python) add("pyserial", py, c.python);
    }
    report.section("Exchange cost on a pseudo-terminal, instrument answering at once",
                   "Times in microseconds per call. CPU is user + system time of the calling "
                   "process (the simulator runs as a process of its own); CPU over bare is what a "
                   "client spends beyond the bare exchange's own system calls.",
                   {"Operation", "Client", "Calls", "Wall median", "Wall p99", "CPU per call",
                    "CPU over bare", "Failed"},
                   rows);
}

}  // namespace qk42rt::bench
