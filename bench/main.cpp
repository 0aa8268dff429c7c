// qk42rt-bench: the library's exchanges timed against a bare exchange and a pyserial script on
// the simulated instrument, libqk42 and its Python package beside them, over TCP straight and
// through ser2net, its time-outs and its pace on a 9600-baud line. Writes a Markdown table
// with PASS/FAIL beside each target.
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "phases.h"
#include "report.h"

namespace {

using qk42rt::bench::Settings;

constexpr char kUsage[] = R"(Usage: qk42rt-bench [OPTION]...
  --out FILE             write the Markdown table here (default bench-results.md)
  --sim PATH             the simulator program (default: the one built with this)
  --python PATH          a Python 3 with pyserial (default /usr/bin/python3)
  --python-client PATH   pyserial_client.py (default: the one in the source tree)
  --client PATH          the qk42rt client, for its status and monitor (default: not run)
  --ser2net PATH         ser2net, the device server put in front of the simulator (default
                         /usr/sbin/ser2net; those exchanges are skipped when it is missing)
  --calls N              calls per operation and contender (default 3000)
  --timeouts N           calls without a reply (default 20)
  --paced-calls N        calls per operation on the paced line (default 200)
  --monitor-seconds S    length of the monitor loop (default 60)
  --quick                a short run: 300 calls, 4 time-outs, 30 paced calls, 2 s monitor
  --strict               exit with status 3 when a target is missed
)";

[[noreturn]] void usage_error(const std::string& message) {
    std::fprintf(stderr, "qk42rt-bench: %s\n%s", message.c_str(), kUsage);
    std::exit(2);
}

template <typename T>
T number(std::string_view option, std::string_view text) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || value < 0) {
        usage_error(std::string(option) + ": not a number: '" + std::string(text) + "'");
    }
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    settings.simulator = QK42RT_BENCH_SIM;
    settings.python = "/usr/bin/python3";
    settings.python_client = QK42RT_BENCH_PYTHON_CLIENT;
    settings.qk42_client = QK42RT_BENCH_QK42_CLIENT;
    settings.qk42_package = QK42RT_BENCH_QK42_PACKAGE;
    settings.qk42_library = QK42RT_BENCH_QK42_LIBRARY;
    settings.ser2net = "/usr/sbin/ser2net";
    std::string out = "bench-results.md";
    bool strict = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&]() -> std::string_view {
            if (i + 1 >= argc) usage_error(std::string(arg) + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--out") {
            out = value();
        } else if (arg == "--sim") {
            settings.simulator = value();
        } else if (arg == "--python") {
            settings.python = value();
        } else if (arg == "--python-client") {
            settings.python_client = value();
        } else if (arg == "--client") {
            settings.client = value();
        } else if (arg == "--ser2net") {
            settings.ser2net = value();
        } else if (arg == "--calls") {
            settings.calls = std::max(1, number<int>(arg, value()));
        } else if (arg == "--timeouts") {
            settings.timeouts = std::max(1, number<int>(arg, value()));
        } else if (arg == "--paced-calls") {
            settings.paced_calls = std::max(10, number<int>(arg, value()));
        } else if (arg == "--monitor-seconds") {
            settings.monitor_seconds = number<double>(arg, value());
        } else if (arg == "--quick") {
            settings.calls = 300;
            settings.timeouts = 4;
            settings.paced_calls = 30;
            settings.statuses = 2;
            settings.monitor_seconds = 2;
        } else if (arg == "--strict") {
            strict = true;
        } else {
            usage_error("unknown option '" + std::string(arg) + "'");
        }
    }
    // A client that goes away must not take the benchmark with it.
    signal(SIGPIPE, SIG_IGN);

    qk42rt::bench::Report report;
    try {
        std::fprintf(stderr, "bench: exchange costs (%d calls per operation and client)\n",
                     settings.calls);
        qk42rt::bench::exchange_costs(settings, report);
        std::fprintf(stderr, "bench: libqk42 and the Python package (%d calls per client)\n",
                     settings.calls);
        qk42rt::bench::host_interface_costs(settings, report);
        std::fprintf(stderr, "bench: exchanges over TCP (%d calls per operation and client)\n",
                     settings.calls);
        qk42rt::bench::device_server_costs(settings, report);
        std::fprintf(stderr, "bench: %d calls without a reply\n", settings.timeouts);
        qk42rt::bench::no_reply_waits(settings, report);
        std::fprintf(stderr, "bench: paced line\n");
        qk42rt::bench::paced_line(settings, report);
        std::fprintf(stderr, "bench: bulk reading (monitor %.0f s)\n", settings.monitor_seconds);
        qk42rt::bench::bulk_reading(settings, report);
        std::fprintf(stderr, "bench: qk42rt sniff in the line\n");
        qk42rt::bench::sniff_costs(settings, report);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qk42rt-bench: %s\n", e.what());
        return 1;
    }

    return qk42rt::bench::publish(report, "Benchmark run", out, strict, "qk42rt-bench");
}
