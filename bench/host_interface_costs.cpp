// What the host interfaces for new programs cost on a pseudo-terminal: qk42_read_flow of
// libqk42 next to a bare exchange, and inst.flow(1) of the Python package qk42 (ctypes over
// libqk42) next to the same reading scripted on pyserial and next to the C call. All four on
// one line and one simulator, taking turns in blocks; the Python contenders are processes of
// their own, which time their calls and count their CPU themselves.
//
// libqk42 claims a line for itself when it opens it (flock, and the tty's exclusive mode), so
// this process's handle and the Python process's cannot both hold it: they take turns, each
// opening the line at the start of its block and closing it at the end, outside the times. The
// bare exchange and the pyserial client open the line at the start, before any libqk42 claim,
// and keep it: the claims turn away only later openers, and neither of them asks for the lock.
// Their descriptors also keep the pseudo-terminal open while a libqk42 turn closes it, so the
// simulator never sees a hang-up. None of the four leaves bytes behind, an exchange reads its
// reply to the last byte, so each finds the line as the one before it left it.
#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bare_line.h"
#include "child_process.h"
#include "contest.h"
#include "operations.h"
#include "phases.h"
#include "qk42.h"
#include "simulator_process.h"
#include "stats.h"

namespace qk42rt::bench {
namespace {

// Where libqk42's exchange is the bare one's system calls, its own work must vanish beside them.
constexpr double kWallLimit = 1.05;
constexpr double kCpuLimit = 1.10;
// The Python package against pyserial: at most half the CPU per call.
constexpr double kPythonCpuLimit = 0.50;

// The reading on the wire: the flow of channel 1 at address 1.
Operation flow_reading() {
    return {"qk42_read_flow", "read_flow", {0x83, 0x00}, 5, nullptr, QK42_OK};
}

enum Contender : std::size_t { kLibrary, kBare, kPyserial, kPython, kContenders };

// `count` calls of qk42_read_flow on a handle opened for them and closed after them.
void library_turn(const std::string& device, int count, Samples& out) {
    qk42_line* opened = nullptr;
    if (qk42_open(device.c_str(), &opened) != QK42_OK) {
        char reason[256] = "";
        qk42_last_error(nullptr, reason, sizeof reason);
        throw std::runtime_error(std::string("qk42_open: ") + reason);
    }
    // Closed however the turn ends: the Python process's turn needs the line.
    const std::unique_ptr<qk42_line, void (*)(qk42_line*)> line(opened, qk42_close);
    const double cpu_start = cpu_us();
    for (int i = 0; i < count; ++i) {
        float flow = 0.0F;
        int status = 0;
        const double start = wall_us();
        const qk42_status result = qk42_read_flow(line.get(), 1, 1, &flow, &status);
        out.wall_us.push_back(wall_us() - start);
        if (result != QK42_OK) ++out.failures;
    }
    out.cpu_us += cpu_us() - cpu_start;
}

// A Python client on the simulator's line, or none (with the reason on stderr) when it does not
// start or cannot reach the line.
std::unique_ptr<ChildProcess> start_client(const char* what, const std::vector<std::string>& argv) {
    try {
        auto client = std::make_unique<ChildProcess>(argv);
        const std::string answer = client->read_line(20'000);
        if (answer == "ready") return client;
        std::fprintf(stderr, "bench: %s said: %s\n", what, answer.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench: %s not available: %s\n", what, e.what());
    }
    return nullptr;
}

}  // namespace

void host_interface_costs(const Settings& settings, Report& report) {
    SimulatorProcess simulator(settings.simulator, {});
    const std::string& device = simulator.slave_path();
    const Operation op = flow_reading();

    BareLine bare(device);
    const std::unique_ptr<ChildProcess> pyserial =
        start_client("pyserial client", {settings.python, settings.python_client, device});
    // The package as a user runs it, finding libqk42 through QK42_LIBRARY.
    const std::unique_ptr<ChildProcess> python =
        start_client("Python qk42 client", {"env", "QK42_LIBRARY=" + settings.qk42_library,
                                            "PYTHONPATH=" + settings.qk42_package, settings.python,
                                            settings.qk42_client, device});

    std::array<Samples, kContenders> samples;
    for (auto& s : samples) {
        s.wall_us.reserve(static_cast<std::size_t>(settings.calls) + settings.block);
    }
    const auto turn = [&](std::size_t contender, int count, Samples& out) {
        switch (contender) {
            case kLibrary:
                library_turn(device, count, out);
                break;
            case kBare:
                bare_block(bare, op, count, out);
                break;
            case kPyserial:
                if (pyserial) client_block(*pyserial, op.python_name, count, out);
                break;
            default:
                if (python) client_block(*python, op.python_name, count, out);
        }
    };
    // Warm up caches, the page tables and the interpreters; not counted.
    for (std::size_t contender = 0; contender < kContenders; ++contender) {
        Samples warm;
        turn(contender, 20, warm);
    }
    // The order runs through all 24 permutations, so that each contender follows each other one
    // equally often: whoever comes right after a Python process pays for the switch back.
    std::vector<std::array<std::size_t, kContenders>> orders;
    std::array<std::size_t, kContenders> order{kLibrary, kBare, kPyserial, kPython};
    do {
        orders.push_back(order);
    } while (std::next_permutation(order.begin(), order.end()));
    const int rounds = (settings.calls + settings.block - 1) / settings.block;
    for (int round = 0; round < rounds; ++round) {
        for (const std::size_t contender :
             orders[static_cast<std::size_t>(round) % orders.size()]) {
            turn(contender, settings.block, samples[contender]);
        }
    }
    if (pyserial) pyserial->write_line("quit");
    if (python) python->write_line("quit");

    std::array<Summary, kContenders> wall;
    std::array<double, kContenders> cpu{};
    for (std::size_t c = 0; c < kContenders; ++c) {
        wall[c] = summarize(samples[c].wall_us);
        cpu[c] = samples[c].cpu_per_call();
    }
    const auto ratio = [](double a, double b) { return fixed(a / b, 2); };
    const bool library_clean = samples[kLibrary].failures == 0 && samples[kBare].failures == 0;
    const std::string c_name = "qk42_read_flow: library/bare";
    report.target(c_name + ", median wall", ratio(wall[kLibrary].median, wall[kBare].median),
                  "≤ " + fixed(kWallLimit, 2),
                  library_clean && wall[kLibrary].median <= kWallLimit * wall[kBare].median);
    report.target(c_name + ", CPU per call", ratio(cpu[kLibrary], cpu[kBare]),
                  "≤ " + fixed(kCpuLimit, 2),
                  library_clean && cpu[kLibrary] <= kCpuLimit * cpu[kBare]);
    const std::string py_name = "inst.flow: Python qk42/pyserial, CPU per call";
    if (python && pyserial) {
        const bool clean = samples[kPython].failures == 0 && samples[kPyserial].failures == 0;
        report.target(py_name, ratio(cpu[kPython], cpu[kPyserial]),
                      "≤ " + fixed(kPythonCpuLimit, 2),
                      clean && cpu[kPython] <= kPythonCpuLimit * cpu[kPyserial]);
        // What each adds to the exchange's own system calls, which both make alike.
        report.figure("inst.flow: Python qk42/pyserial, CPU over bare",
                      ratio(cpu[kPython] - cpu[kBare], cpu[kPyserial] - cpu[kBare]),
                      "none (what each adds to the system calls)");
    } else {
        report.target(
            py_name,
            std::string("not measured (no ") + (python ? "pyserial" : "Python qk42") + " client)",
            "≤ " + fixed(kPythonCpuLimit, 2), false);
    }
    if (python) {
        report.figure("inst.flow: Python qk42/qk42_read_flow, median wall",
                      ratio(wall[kPython].median, wall[kLibrary].median), "none (for scale)");
        report.figure("inst.flow: Python qk42/qk42_read_flow, CPU per call",
                      ratio(cpu[kPython], cpu[kLibrary]), "none (for scale)");
    }

    std::vector<Row> rows;
    static constexpr const char* kNames[kContenders] = {"qk42_read_flow (libqk42)", "bare",
                                                        "pyserial", "inst.flow (Python qk42)"};
    for (std::size_t c = 0; c < kContenders; ++c) {
        if ((c == kPyserial && !pyserial) || (c == kPython && !python)) continue;
        rows.push_back({kNames[c], std::to_string(wall[c].count), fixed(wall[c].median, 1),
                        fixed(wall[c].p99, 1), fixed(cpu[c], 1), fixed(cpu[c] - cpu[kBare], 1),
                        std::to_string(samples[c].failures)});
    }
    report.section(
        "Host interfaces on a pseudo-terminal, instrument answering at once",
        "The flow of channel 1, times in microseconds per call. The four take turns on one line "
        "in blocks; the C call and the Python package, both libqk42, open the line at the start "
        "of each of their blocks and close it at the end, outside the times, since libqk42 "
        "keeps an open line to itself. The Python contenders run as processes of their own and "
        "count their own CPU (user + system); CPU over bare is what a client spends beyond the "
        "bare exchange's own system calls.",
        {"Client", "Calls", "Wall median", "Wall p99", "CPU per call", "CPU over bare", "Failed"},
        rows);
}

}  // namespace qk42rt::bench
