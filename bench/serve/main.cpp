// qk42rt-serve-bench: what `qk42rt serve` costs on top of the line it owns, against libqk42
// called directly on the same simulated line. Writes a Markdown table with PASS/FAIL beside
// each target.
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "report.h"
#include "serve_bench.h"

namespace {

using qk42rt::bench::ServeSettings;

constexpr char kUsage[] = R"(Usage: qk42rt-serve-bench [OPTION]...
  --client PATH     the qk42rt client whose `serve` is measured (default: the one built with
                    this)
  --out FILE        write the Markdown table here (default serve-bench-results.md)
  --rounds N        latency: rounds of a direct and an HTTP block (default 10)
  --calls N         latency: calls per block (default 200)
  --seconds S       load: the window of the HTTP clients (default 35, which fills the
                    server's event history for the subscribers after it)
  --quick           a short run: 2 rounds of 100 calls, 1 s of load, event windows of ten
                    200 ms poll cycles (about 8 s in all)
  --strict          exit with status 3 when a target is missed
)";

[[noreturn]] void usage_error(const std::string& message) {
    std::fprintf(stderr, "qk42rt-serve-bench: %s\n%s", message.c_str(), kUsage);
    std::exit(2);
}

template <typename T>
T number(std::string_view option, std::string_view text) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || value <= 0) {
        usage_error(std::string(option) + ": not a positive number: '" + std::string(text) + "'");
    }
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    ServeSettings settings;
    settings.client = QK42RT_SERVE_BENCH_CLIENT;
    std::string out = "serve-bench-results.md";
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
        } else if (arg == "--client") {
            settings.client = value();
        } else if (arg == "--out") {
            out = value();
        } else if (arg == "--rounds") {
            settings.rounds = number<int>(arg, value());
        } else if (arg == "--calls") {
            settings.calls = number<int>(arg, value());
        } else if (arg == "--seconds") {
            settings.load_seconds = number<double>(arg, value());
        } else if (arg == "--quick") {
            settings.rounds = 2;
            settings.calls = 100;
            settings.paced_calls = 30;
            settings.load_seconds = 1.0;
            settings.poll_interval_ms = 200;
        } else if (arg == "--strict") {
            strict = true;
        } else {
            usage_error("unknown option '" + std::string(arg) + "'");
        }
    }
    // A client or server that goes away must not take the benchmark with it.
    signal(SIGPIPE, SIG_IGN);

    qk42rt::bench::Report report;
    qk42rt::bench::Faults faults;
    try {
        std::fprintf(stderr, "serve-bench: GET .../flow against qk42_read_flow (%d x %d calls)\n",
                     settings.rounds, settings.calls);
        qk42rt::bench::flow_latency(settings, report, faults);
        std::fprintf(stderr,
                     "serve-bench: %d HTTP clients for %.0f s, %d subscribers, memory (paced "
                     "line)\n",
                     settings.clients, settings.load_seconds, settings.subscribers);
        qk42rt::bench::load_events_memory(settings, report, faults);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qk42rt-serve-bench: %s\n", e.what());
        return 1;
    }
    report.target(
        "Answers failed or wrong (HTTP and direct), servers not stopping cleanly",
        std::to_string(faults.wrong_answers) + ", " + std::to_string(faults.unclean_stops), "0, 0",
        faults.wrong_answers == 0 && faults.unclean_stops == 0);

    return qk42rt::bench::publish(report, "Server benchmark run", out, strict,
                                  "qk42rt-serve-bench");
}
