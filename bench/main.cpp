// qk42rt-bench: the library's exchanges timed against a bare exchange and Python scripts on the
// simulated instrument, over pseudo-terminals, TCP and ser2net, its time-outs and its pace on a
// 9600-baud line, the client's bulk readings, sniff and serve. Writes a Markdown report with
// PASS/FAIL beside each target.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <exception>

#include "bench.h"

namespace {

using namespace qk42rt::bench;

struct Part {
    const char* name;
    const char* what;
    void (*run)(const Settings&, Report&);
    bool on_request = false;  // only with --only NAME
};

constexpr Part kParts[] = {
    {"exchange", "the exported functions on a pseudo-terminal", exchange_costs},
    {"host", "libqk42 and the Python package", host_interface_costs},
    {"tcp", "libqk42 over TCP and ser2net", device_server_costs},
    {"no-reply", "calls without a reply", no_reply_waits},
    {"paced", "the paced line", paced_line},
    {"bulk", "status and monitor on the paced line", bulk_reading},
    {"sniff", "qk42rt sniff in the line", sniff_costs},
    {"serve", "qk42rt serve", server_costs},
    {"gateway", "the gateway over MQTT", gateway_costs},
    {"plant", "16 gateways x 8 lines x 8 instruments through one broker", plant, true},
};

}  // namespace

int main(int argc, char** argv) {
    Settings s;
    std::string out = "bench-results.md";
    bool strict = false;
    std::vector<std::string> only;

    CLI::App app("Times the library against bare exchanges on the simulated instrument.",
                 "qk42rt-bench");
    app.option_defaults()->always_capture_default();
    // First, so that options given beside it take effect after it.
    app.add_flag_callback(
        "--quick",
        [&s] {
            s.calls = 300;
            s.timeouts = 4;
            s.paced_calls = 30;
            s.statuses = 2;
            s.monitor_seconds = 2;
            s.serve_rounds = 2;
            s.serve_calls = 100;
            s.load_seconds = 1;
            s.poll_interval_ms = 200;
            s.gateway_seconds = 3;
        },
        "a short run (CI): 300 calls, 4 time-outs, 30 paced calls, 2 s monitor loops, 2 x 100 "
        "server calls, 1 s of server load, a 200 ms poll, 3 s of the 8 x 8 gateway");
    app.add_option("--out", out, "write the Markdown report here");
    app.add_option("--sim", s.simulator, "the simulator");
    app.add_option("--client", s.client, "the qk42rt client");
    app.add_option("--python", s.python, "a Python 3 with pyserial");
    app.add_option("--ser2net", s.ser2net, "ser2net (its lines are left out without it)");
    const CLI::Range count(1, 10'000'000);
    app.add_option("--calls", s.calls, "calls per operation and contender")->check(count);
    app.add_option("--timeouts", s.timeouts, "calls without a reply")->check(count);
    app.add_option("--paced-calls", s.paced_calls, "calls per operation on the paced line")
        ->check(CLI::Range(10, 10'000'000));
    app.add_option("--monitor-seconds", s.monitor_seconds, "the monitor loops' length")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--serve-rounds", s.serve_rounds, "server latency: rounds")->check(count);
    app.add_option("--serve-calls", s.serve_calls, "server latency: calls a block")->check(count);
    app.add_option("--load-seconds", s.load_seconds, "server load: the 16 clients' window")
        ->check(CLI::PositiveNumber);
    app.add_option("--plant-seconds", s.plant_seconds, "the plant's window")
        ->check(CLI::PositiveNumber);
    std::vector<std::string> names;
    for (const Part& part : kParts) names.emplace_back(part.name);
    app.add_option("--only", only, "run only these parts")->check(CLI::IsMember(names));
    app.add_flag("--strict", strict, "exit with status 3 when a target is missed");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    signal(SIGPIPE, SIG_IGN);  // a client that goes away must not take the benchmark with it

    Report report;
    try {
        for (const Part& part : kParts) {
            const bool named = std::find(only.begin(), only.end(), part.name) != only.end();
            if (named || (only.empty() && !part.on_request)) {
                std::fprintf(stderr, "bench: %s\n", part.what);
                part.run(s, report);
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qk42rt-bench: %s\n", e.what());
        return 1;
    }
    return report.publish(out, strict);
}
