// The host interfaces for new programs on a pseudo-terminal: qk42_read_flow of libqk42 and
// inst.flow(1) of the Python package qk42 (ctypes over libqk42) beside a bare exchange and the
// same reading scripted on pyserial, all four taking turns on one line.
//
// libqk42 claims a line for itself (flock, and the tty's exclusive mode), so the C call and the
// Python package open it for each of their turns and close it after, outside the times. The
// bare exchange and the pyserial script open it first and keep it: the claims turn away only
// later openers, and their descriptors keep the pseudo-terminal open, so that the simulator
// never sees a hang-up.
#include "bench.h"
#include "support/sim_process.h"
#include "wire.h"

namespace qk42rt::bench {
namespace {

enum Contender : std::size_t { kLibrary, kBare, kPyserial, kPython, kContenders };

// `count` calls on a handle opened for them and closed after them.
void library_turn(const std::string& device, const Operation& op, int count, Samples& out) {
    const Qk42Line line = open_line(device);
    time_calls(count, out, [&] { return op.host(line.get()); });
}

}  // namespace

void host_interface_costs(const Settings& settings, Report& report) {
    testing::SimProcess simulator(settings.simulator, {});
    const std::string& device = simulator.device();
    const Operation& op = operations().front();  // the flow of channel 1
    BareLine bare(device);
    const Script pyserial = start_script(settings.python, "pyserial", device);
    // The package as a user runs it, finding libqk42 through QK42_LIBRARY.
    const Script python = start_script(
        settings.python, "qk42", device,
        {"QK42_LIBRARY=" QK42RT_BENCH_QK42_LIBRARY, "PYTHONPATH=" QK42RT_BENCH_QK42_PACKAGE});
    const auto s =
        take_turns({[&](int count, Samples& out) { library_turn(device, op, count, out); },
                    turn_of([&] { return bare.exchange(op); }),
                    script_turns(pyserial, op.for_script()), script_turns(python, "")},
                   settings.calls);

    library_targets(report, op.host_name, s[kLibrary], s[kBare], Limits{1.05, 1.10});
    const auto cpu = [&](Contender c) { return s[c].cpu_per_call(); };
    const auto median = [&](Contender c) { return summarize(s[c].wall_us).median; };
    const std::string figure = "inst.flow: Python qk42/pyserial, CPU per call";
    if (python && pyserial) {
        const bool clean = s[kPython].failures == 0 && s[kPyserial].failures == 0;
        const double ratio = cpu(kPython) / cpu(kPyserial);
        report.target(figure, fixed(ratio, 2), "≤ 0.50", clean && ratio <= 0.50);
        // What each adds to the exchange's own system calls, which both make alike.
        report.figure("inst.flow: Python qk42/pyserial, CPU over bare",
                      fixed((cpu(kPython) - cpu(kBare)) / (cpu(kPyserial) - cpu(kBare)), 2),
                      "none (what each adds to the system calls)");
    } else {
        report.target(figure, "not measured", "≤ 0.50", false);
    }
    if (python) {
        report.figure("inst.flow: Python qk42/qk42_read_flow, median wall",
                      fixed(median(kPython) / median(kLibrary), 2), "none (for scale)");
        report.figure("inst.flow: Python qk42/qk42_read_flow, CPU per call",
                      fixed(cpu(kPython) / cpu(kLibrary), 2), "none (for scale)");
    }
    std::vector<Row> rows;
    const char* names[kContenders] = {"qk42_read_flow (libqk42)", "bare", "pyserial",
                                      "inst.flow (Python qk42)"};
    for (std::size_t c = 0; c < kContenders; ++c) {
        if (!s[c].wall_us.empty()) rows.push_back(cost_row({names[c]}, s[c], s[kBare]));
    }
    report.section(
        "Host interfaces on a pseudo-terminal, instrument answering at once",
        "The flow of channel 1, times in microseconds per call. The Python contenders count "
        "their own CPU; libqk42's C call and the Python package open the line for each of "
        "their turns, outside the times.",
        {"Client", "Calls", "Wall median", "Wall p99", "CPU per call", "CPU over bare", "Failed"},
        rows);
}

}  // namespace qk42rt::bench
