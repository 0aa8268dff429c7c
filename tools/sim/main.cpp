// qk42rt-sim: an instrument on a pseudo-terminal or a TCP listener, for hosts without hardware.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "faults.h"
#include "port/device_string.h"
#include "replay_book.h"
#include "simulator.h"
#include "stop_request.h"

namespace {

using qk42rt::sim::Options;

constexpr char kUsage[] =
    R"(Usage: qk42rt-sim [OPTION]...
Simulates QK42 flow instruments on a pseudo-terminal, a TCP listener or both. Prints
"slave: PATH" (the device a host opens) and, with --tcp, "tcp: HOST:PORT" (where a host
connects, as tcp://HOST:PORT) on standard output, then "event: line opened" and
"event: line hung up" as hosts open and close the line. Runs until interrupted (SIGINT or
SIGTERM).

Options:
  --address A         simulate the instrument at address A (1 to 8); repeat for several
                      instruments on one line (default: 1)
  --link PATH         make PATH a symbolic link to the slave device (removed at exit)
  --tcp HOST:PORT     serve the same instruments on a TCP listener too, raw, one client at
                      a time (port 0: any free port; 127.0.0.1:0 for a test)
  --no-pty            serve on TCP only, without a pseudo-terminal
  --pace              send reply bytes at the pace of a 9600 baud line (about 1.04 ms each)
  --turnaround MS     wait MS milliseconds before each reply (default 0)
  --time-constant S   flow response time constant in seconds (default 2; 0: immediate)
  --noise SD          add noise of standard deviation SD to flow readings (default 0)
  --seed N            seed of the flow noise (default 1)
  --fault KIND[:key=value,...]
                      inject a fault; repeatable. KIND: no-reply, late-reply, split-reply,
                      short-reply, surplus, wrong-ack, garbage, hang-up. Keys: code=0xN (command
                      code; default all), count=K (next K requests; default no limit),
                      probability=P, seed=S, delay=MS (late/split, default 600), extra=N
                      (surplus/garbage bytes, default 1)
  --replay FILE       answer from a recording (qk42rt sniff --record, qk42rt --record)
                      instead of the instrument model: each request gets the reply recorded
                      for the same bytes, in recorded order, the last one again once they run
                      out; a request never recorded gets no reply (the transcript says so).
                      --address and the model's options then have no effect
  --replay-timing     with --replay, wait each reply's recorded latency before sending it
  --transcript FILE   log every request, reply and event with time stamps ('-': stderr)
  --timings           print "exchange: READ FIRST LAST M N" on standard output for each
                      request: when it was read and when its first and last reply bytes
                      went out (seconds since start), its request and reply byte counts
  --help              show this help

On Windows, which has no pseudo-terminals, the simulator serves TCP only: --tcp is needed,
--no-pty is taken as given and --link is refused.

Examples:
  qk42rt-sim --address 1 --address 2 --link /tmp/qk42 --fault no-reply:code=0x3,count=2
  qk42rt-sim --tcp 127.0.0.1:4001 --no-pty
  qk42rt-sim --replay field.jsonl --replay-timing --link /tmp/qk42
)";

struct Settings {
    Options options;
    std::vector<qk42rt::sim::FaultRule> faults;
    std::string transcript_path;
    std::string replay_path;
    bool replay_timing = false;
    bool timings = false;
};

[[noreturn]] void usage_error(const std::string& message) {
    std::fprintf(stderr, "qk42rt-sim: %s\nTry 'qk42rt-sim --help'.\n", message.c_str());
    std::exit(2);
}

template <typename T>
T number(std::string_view option, std::string_view text) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) {
        usage_error(std::string(option) + ": not a number: '" + std::string(text) + "'");
    }
    return value;
}

#ifdef _WIN32
constexpr bool kNoPseudoTerminals = true;  // TCP only, as if --no-pty were given
#else
constexpr bool kNoPseudoTerminals = false;
#endif

// CLI11 reads the options; each value is checked as it is read, in the order given, in the
// simulator's own words. The help is the text above.
Settings parse(int argc, char** argv) {
    Settings settings;
    Options& options = settings.options;
    options.addresses.clear();
    CLI::App app("", "qk42rt-sim");
    app.set_help_flag();
    app.allow_extras();  // named by the message below, as an unknown option
    const auto value = [&app](const std::string& name,
                              const std::function<void(const std::string&)>& read) {
        app.add_option(name)->each(read)->trigger_on_parse();
    };
    const auto flag = [&app](const std::string& name, const std::function<void()>& set) {
        app.add_flag_callback(name, set)->trigger_on_parse()->disable_flag_override();
    };
    flag("--help,-h", [] {
        std::fputs(kUsage, stdout);
        std::exit(0);
    });
    value("--address", [&](const std::string& text) {
        const int address = number<int>("--address", text);
        if (address < 1 || address > 8) usage_error("--address: 1 to 8");
        options.addresses.push_back(address);
    });
    value("--link", [&](const std::string& text) { options.link_path = text; });
    value("--tcp", [&](const std::string& text) {
        const auto parsed = qk42rt::parse_host_port(text, true);
        if (const auto* error = std::get_if<qk42rt::DeviceStringError>(&parsed)) {
            usage_error("--tcp: " + error->message);
        }
        options.tcp_listen = text;
    });
    flag("--no-pty", [&] { options.pty = false; });
    flag("--pace", [&] { options.pace_9600 = true; });
    value("--turnaround", [&](const std::string& text) {
        options.turnaround_ms = number<int>("--turnaround", text);
    });
    value("--time-constant", [&](const std::string& text) {
        options.time_constant_s = number<double>("--time-constant", text);
    });
    value("--noise",
          [&](const std::string& text) { options.noise = number<double>("--noise", text); });
    value("--seed", [&](const std::string& text) {
        options.noise_seed = number<std::uint32_t>("--seed", text);
    });
    value("--fault", [&](const std::string& text) {
        std::string error;
        const auto rule = qk42rt::sim::parse_fault(text, error);
        if (!rule) usage_error("--fault: " + error);
        settings.faults.push_back(*rule);
    });
    value("--replay", [&](const std::string& text) {
        if (text.empty()) usage_error("--replay needs a file");
        settings.replay_path = text;
    });
    flag("--replay-timing", [&] { settings.replay_timing = true; });
    value("--transcript", [&](const std::string& text) { settings.transcript_path = text; });
    flag("--timings", [&] { settings.timings = true; });
    try {
        app.parse(argc, argv);
    } catch (const CLI::ArgumentMismatch& e) {
        // The last option's value missing ("--NAME: 1 required ..."), or a switch given a value
        // other than true ("NAME was given ...").
        const std::string what = e.what();
        const auto name_end = what.find_first_of(": ");
        if (name_end == std::string::npos) usage_error(what);
        const std::string name = what.substr(0, name_end);
        if (what[name_end] == ':') usage_error(name + " needs a value");
        usage_error((name.starts_with("-") ? name : "--" + name) + " takes no value");
    } catch (const CLI::ParseError& e) {
        usage_error(e.what());
    }
    if (!app.remaining().empty()) usage_error("unknown option '" + app.remaining().front() + "'");
    if (options.addresses.empty()) options.addresses.push_back(1);
    if (kNoPseudoTerminals) {
        if (options.tcp_listen.empty()) {
            usage_error("Windows has no pseudo-terminals: serve on TCP with --tcp HOST:PORT");
        }
        if (!options.link_path.empty()) usage_error("--link: Windows has no pseudo-terminals");
        options.pty = false;
    }
    if (!options.pty && options.tcp_listen.empty()) usage_error("--no-pty needs --tcp HOST:PORT");
    if (settings.replay_timing && settings.replay_path.empty()) {
        usage_error("--replay-timing goes with --replay FILE");
    }
    if (!options.pty && !options.link_path.empty()) {
        usage_error("--link names the pseudo-terminal; it does not go with --no-pty");
    }
    return settings;
}

// Events that happen before the slave and tcp lines are printed wait, so those come first.
struct Output {
    std::mutex mutex;
    bool started = false;
    std::vector<std::string> pending;
    std::FILE* transcript = nullptr;

    // "event: ..." and "exchange: ..." lines.
    void print_line(const std::string& line) {
        std::lock_guard lock(mutex);
        if (!started) {
            pending.push_back(line);
            return;
        }
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    void start(const std::string& slave, const std::string& tcp) {
        std::lock_guard lock(mutex);
        if (!slave.empty()) std::printf("slave: %s\n", slave.c_str());
        if (!tcp.empty()) std::printf("tcp: %s\n", tcp.c_str());
        for (const auto& line : pending) std::printf("%s\n", line.c_str());
        pending.clear();
        started = true;
        std::fflush(stdout);
    }
    void print_transcript(const std::string& line) {
        std::lock_guard lock(mutex);
        std::fprintf(transcript, "%s\n", line.c_str());
        std::fflush(transcript);
    }
};

}  // namespace

int main(int argc, char** argv) {
    Settings settings = parse(argc, argv);
    Output output;
    if (settings.transcript_path == "-") {
        output.transcript = stderr;
    } else if (!settings.transcript_path.empty()) {
        output.transcript = std::fopen(settings.transcript_path.c_str(), "a");
        if (!output.transcript) {
            std::fprintf(stderr, "qk42rt-sim: cannot open %s: %s\n",
                         settings.transcript_path.c_str(), std::strerror(errno));
            return 1;
        }
    }
    if (output.transcript) {
        settings.options.transcript = [&output](const std::string& line) {
            output.print_transcript(line);
        };
    }
    settings.options.on_event = [&output](const std::string& text) {
        output.print_line("event: " + text);
    };
    if (settings.timings) {
        settings.options.on_exchange = [&output](const qk42rt::sim::ExchangeTiming& t) {
            char line[128];
            std::snprintf(line, sizeof line, "exchange: %.6f %.6f %.6f %zu %zu", t.request_s,
                          t.reply_start_s, t.reply_end_s, t.request_bytes, t.reply_bytes);
            output.print_line(line);
        };
    }
    std::optional<qk42rt::sim::ReplayBook> replay;
    if (!settings.replay_path.empty()) {
        try {
            replay = qk42rt::sim::ReplayBook::load(settings.replay_path);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "qk42rt-sim: %s\n", e.what());
            return 1;
        }
        // Called on the simulator's thread only.
        settings.options.responder =
            [&replay, timing = settings.replay_timing](std::span<const std::uint8_t> request) {
                return qk42rt::sim::replay_answer(*replay, request, timing);
            };
    }

    // Before the serving thread starts, so that only the wait below receives the stop.
    const qk42rt::StopRequest stop_request;

    int status = 0;
    try {
        qk42rt::sim::Simulator simulator(settings.options);
        for (const auto& rule : settings.faults) simulator.add_fault(rule);
        output.start(simulator.slave_path(), simulator.tcp_address());
        stop_request.wait();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qk42rt-sim: %s\n", e.what());
        status = 1;
    }
    if (output.transcript && output.transcript != stderr) std::fclose(output.transcript);
    return status;
}
