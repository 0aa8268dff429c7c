// Many readings in a row on the paced line, as `status` and `monitor` take them: the rate the
// library reaches against the rate the line allows.
#include <signal.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "child_process.h"
#include "clocks.h"
#include "phases.h"
#include "port_seam.h"
#include "qk42rt.h"
#include "simulator_process.h"
#include "stats.h"

namespace qk42rt::bench {
namespace {

constexpr double kByteUs = 10.0 / 9600.0 * 1e6;
constexpr double kReadingUs = 7 * kByteUs;  // flow, setpoint, maxflow: 2 + 5 bytes
constexpr double kUnitUs = 3 * kByteUs;     // unit: 2 + 1 bytes

// One reading of each of the three values of the eight channels: 24 calls.
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
    int lines = 0;
    int exit_status = -1;
};

// Runs the client until it ends, or until `seconds` and then a SIGTERM, counting its lines.
ClientRun run_client(const std::vector<std::string>& argv, double seconds) {
    ClientRun run;
    ChildProcess client(argv);
    const double start = wall_us();
    bool stopped = false;
    for (;;) {
        if (!stopped && seconds > 0 && wall_us() - start > seconds * 1e6) {
            client.signal(SIGTERM);
            stopped = true;
        }
        try {
            client.read_line(200);
            ++run.lines;
        } catch (const std::runtime_error& e) {
            if (std::string(e.what()).find("ended") != std::string::npos) break;
        }
    }
    run.seconds = (wall_us() - start) / 1e6;
    run.exit_status = client.wait(5000);
    return run;
}

}  // namespace

void bulk_reading(const Settings& settings, Report& report) {
    SimulatorProcess simulator(settings.simulator, {"--pace"});
    point_port_at(simulator.slave_path());
    if (QK42RT_InitPort(kBenchPort) != 1) throw std::runtime_error("QK42RT_InitPort failed");

    std::vector<double> walks_ms;
    int status_failures = 0;
    for (int i = 0; i < settings.statuses; ++i) {
        const double start = wall_us();
        status_failures += status_walk();
        walks_ms.push_back((wall_us() - start) / 1e3);
    }
    const Summary walk = summarize(walks_ms);
    const double walk_line_ms = 24 * kReadingUs / 1e3;

    // The monitor at the shortest interval: the eight flows, over and over.
    long calls = 0;
    int monitor_failures = 0;
    const double cpu_start = cpu_us();
    const double start = wall_us();
    while (wall_us() - start < settings.monitor_seconds * 1e6) {
        for (int channel = 1; channel <= 8; ++channel, ++calls) {
            float flow = 0.0f;
            int status = 0;
            monitor_failures += QK42RT_ReadFlow(1, channel, &flow, &status) != 1;
        }
    }
    const double monitor_s = (wall_us() - start) / 1e6;
    const double monitor_cpu = 100.0 * (cpu_us() - cpu_start) / (monitor_s * 1e6);
    QK42RT_ClosePort();

    const double line_rate = 1e6 / kReadingUs;
    const double rate = static_cast<double>(calls) / monitor_s;
    std::vector<Row> rows{
        {"status, exported functions (24 readings)", std::to_string(walk.count) + " walks",
         fixed(walk.median, 1) + " ms", fixed(walk_line_ms, 1) + " ms",
         fixed(24e3 / walk.median, 1) + " / " + fixed(line_rate, 1),
         fixed(walk_line_ms / walk.median, 2), "-", std::to_string(status_failures)},
        {"monitor, exported functions, no pause", fixed(monitor_s, 1) + " s",
         std::to_string(calls) + " calls", "-", fixed(rate, 1) + " / " + fixed(line_rate, 1),
         fixed(rate / line_rate, 2), fixed(monitor_cpu, 2) + " %",
         std::to_string(monitor_failures)},
    };

    if (!settings.client.empty()) {
        // The client takes the line for itself, so the library holds no port meanwhile.
        const std::vector<std::string> base{settings.client, "--device", simulator.slave_path()};
        std::vector<std::string> status = base;
        status.push_back("status");
        const ClientRun s = run_client(status, 0);
        const double client_line_ms = 8 * (3 * kReadingUs + kUnitUs) / 1e3;
        rows.push_back({"qk42rt status (32 readings, with process start)", "1 run",
                        fixed(s.seconds * 1e3, 1) + " ms", fixed(client_line_ms, 1) + " ms",
                        fixed(32 / s.seconds, 1) + " / " + fixed(32e3 / client_line_ms, 1),
                        fixed(client_line_ms / (s.seconds * 1e3), 2), "-",
                        "exit " + std::to_string(s.exit_status)});
        std::vector<std::string> monitor = base;
        for (const char* word : {"monitor", "--interval", "0", "--csv"}) monitor.push_back(word);
        const ClientRun m = run_client(monitor, settings.monitor_seconds);
        const int readings = 8 * (m.lines > 0 ? m.lines - 1 : 0);  // less the CSV header
        const double client_rate = readings / m.seconds;
        rows.push_back({"qk42rt monitor --interval 0 --csv", fixed(m.seconds, 1) + " s",
                        std::to_string(readings) + " calls", "-",
                        fixed(client_rate, 1) + " / " + fixed(line_rate, 1),
                        fixed(client_rate / line_rate, 2), "-",
                        "exit " + std::to_string(m.exit_status)});
    }
    report.section("Bulk reading on the paced line",
                   "Rate: readings per second against the line's limit (7 bytes of 10 bits per "
                   "reading at 9600 bit/s), on the simulator's paced line.",
                   {"Run", "Length", "Time / calls", "Line minimum", "Rate (per s)",
                    "Rate / line's limit", "CPU / wall", "Failed"},
                   rows);
}

}  // namespace qk42rt::bench
