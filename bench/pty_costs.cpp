// The exported functions on a pseudo-terminal: against a bare exchange and a pyserial script
// with the instrument answering at once, waiting out one told to stay silent (QK42RT_ReadFlow),
// and on a line paced at 9600 baud. The host interfaces for new programs beside them:
// qk42_read_flow of libqk42 and inst.flow(1) of the Python package qk42 (ctypes over libqk42).
#include <vector>

#include "bench.h"
#include "support/sim_process.h"
#include "wire.h"

namespace qk42rt::bench {

void exchange_costs(const Settings& settings, Report& report) {
    testing::SimProcess simulator(settings.simulator, {});
    // Opened before the library claims the line, as the claim turns away only later openers.
    BareLine bare(simulator.device());
    const Script script = start_script(settings.python, "pyserial", simulator.device());
    const LegacyPort port(simulator.device());
    std::vector<Row> rows;
    for (const Operation& op : operations()) {
        const auto s = take_turns({turn_of(op.legacy), turn_of([&] { return bare.exchange(op); }),
                                   script_turns(script, op.for_script())},
                                  settings.calls);
        library_targets(report, op.name, s[0], s[1], Limits{1.10, 1.25});
        rows.push_back(cost_row({op.name, "library"}, s[0], s[1]));
        rows.push_back(cost_row({op.name, "bare"}, s[1], s[1]));
        if (!script) {
            report.target(op.name + ": pyserial/library", "not measured", "≥ 1.0, ≥ 2", false);
            continue;
        }
        const double wall = summarize(s[2].wall_us).median / summarize(s[0].wall_us).median;
        const double cpu = s[2].cpu_per_call() / s[0].cpu_per_call();
        const bool clean = s[2].failures == 0;
        report.target(op.name + ": pyserial/library, median wall", fixed(wall, 2), "≥ 1.0",
                      clean && wall >= 1.0);
        report.target(op.name + ": pyserial/library, CPU per call", fixed(cpu, 2), "≥ 2",
                      clean && cpu >= 2.0);
        rows.push_back(cost_row({op.name, "pyserial"}, s[2], s[1]));
    }
    report.section("Exchange cost on a pseudo-terminal, instrument answering at once",
                   "Times in microseconds per call. CPU is user + system time of the calling "
                   "process (the simulator runs as a process of its own); CPU over bare is what a "
                   "client spends beyond the bare exchange's own system calls.",
                   {"Operation", "Client", "Calls", "Wall median", "Wall p99", "CPU per call",
                    "CPU over bare", "Failed"},
                   rows);
}

void host_interface_costs(const Settings& settings, Report& report) {
    testing::SimProcess simulator(settings.simulator, {});
    const std::string& device = simulator.device();
    const Operation& op = operations().front();  // the flow of channel 1
    enum Contender : std::size_t { kLibrary, kBare, kPyserial, kPython, kContenders };
    // libqk42 claims a line for itself (flock, and the tty's exclusive mode), so the C call and
    // the Python package open it for each of their turns. The bare exchange and the pyserial
    // script open it first and keep it: the claims turn away only later openers, and their
    // descriptors keep the pseudo-terminal open, so that the simulator never sees a hang-up.
    const Turn library = [&](int count, Samples& out) {
        const Qk42Line line = open_line(device);
        time_calls(count, out, [&] { return op.host(line.get()); });
    };
    BareLine bare(device);
    const Script pyserial = start_script(settings.python, "pyserial", device);
    // The package as a user runs it, finding libqk42 through QK42_LIBRARY.
    const Script python = start_script(
        settings.python, "qk42", device,
        {"QK42_LIBRARY=" QK42RT_BENCH_QK42_LIBRARY, "PYTHONPATH=" QK42RT_BENCH_QK42_PACKAGE});
    const auto s = take_turns({library, turn_of([&] { return bare.exchange(op); }),
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

void no_reply_waits(const Settings& settings, Report& report) {
    testing::SimProcess simulator(settings.simulator, {"--fault", "no-reply"});
    const LegacyPort port(simulator.device());
    const Operation& op = operations().front();
    Samples waits;
    const double wall_start = wall_us();
    time_calls(settings.timeouts, waits, [&] { return !op.legacy(); });
    const double cpu_share = 100.0 * waits.cpu_us / (wall_us() - wall_start);
    const Summary s = summarize(waits.wall_us);
    const auto ms = [](double us) { return fixed(us / 1e3, 2); };
    report.target("No reply: shortest wait (" + std::to_string(s.count) + " calls)",
                  ms(s.min) + " ms", "≥ 500 ms", s.min >= 500e3 && waits.failures == 0);
    report.target("No reply: median wait", ms(s.median) + " ms", "≤ 503 ms", s.median <= 503e3);
    report.target("No reply: longest wait", ms(s.max) + " ms", "≤ 520 ms", s.max <= 520e3);
    report.target("No reply: CPU during the waits",
                  fixed(cpu_share, 3) + " % of wall (" + fixed(waits.cpu_us, 0) + " µs in all)",
                  "≤ 1 %", cpu_share <= 1.0);
}

void paced_line(const Settings& settings, Report& report) {
    testing::SimProcess simulator(settings.simulator, {"--pace"});
    BareLine bare(simulator.device());
    const LegacyPort port(simulator.device());
    std::vector<Row> rows;
    for (const Operation& op : operations()) {
        const auto s = take_turns({turn_of(op.legacy), turn_of([&] { return bare.exchange(op); })},
                                  settings.paced_calls);
        const Summary library = summarize(s[0].wall_us);
        const double bare_ms = summarize(s[1].wall_us).median / 1e3;
        const double line_ms = line_us(op.request.size() + op.reply_length) / 1e3;
        const double over_line = library.median / 1e3 - line_ms;
        const double over_bare = library.median / 1e3 - bare_ms;
        const std::size_t failed = s[0].failures + s[1].failures;
        report.target(op.name + ": paced, over the line's minimum",
                      fixed(over_line, 3) + " ms (" + fixed(over_bare, 3) + " ms over bare)",
                      "≤ 0.3 ms", over_line <= 0.3 && over_bare <= 0.3 && failed == 0);
        rows.push_back(
            {op.name, std::to_string(op.request.size()) + " + " + std::to_string(op.reply_length),
             fixed(line_ms, 3), fixed(library.median / 1e3, 3), fixed(library.p99 / 1e3, 3),
             fixed(bare_ms, 3), fixed(over_line, 3), fixed(over_bare, 3), std::to_string(failed)});
    }
    report.section(
        "Line paced at 9600 baud",
        "Times in milliseconds per call, median over " + std::to_string(settings.paced_calls) +
            " calls each. Line minimum: request and reply bytes at ten bits each, 9600 bit/s. "
            "The simulator answers only when the request would have arrived on a real line and "
            "delivers each reply byte one byte time after the last. Library − line minimum is "
            "what the library and the simulator add to the line's own time; library − bare "
            "isolates the library.",
        {"Operation", "Bytes (request + reply)", "Line minimum", "Library median", "Library p99",
         "Bare median", "Library − line minimum", "Library − bare", "Failed"},
        rows);
}

}  // namespace qk42rt::bench
