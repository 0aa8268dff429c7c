// `qk42rt serve` as a process of its own on a simulator's line, against libqk42 called directly
// on the same line: GET .../flow against qk42_read_flow with the instrument answering at once;
// 16 HTTP clients on a line paced at 9600 baud, with the simulator's own timings (--timings) for
// a second view; 100 event-stream subscribers, the requests per poll cycle and the server's CPU
// (/proc/PID/stat) with them and without; its resident memory (/proc/PID/status) after all that.
#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <numeric>
#include <sstream>
#include <stop_token>
#include <thread>
#include <utility>

#include "bench.h"
#include "support/sim_process.h"
#include "wire.h"

namespace qk42rt::bench {
namespace {

using testing::SimProcess;

constexpr int kWarmUpCalls = 16;
constexpr int kClients = 16;
constexpr int kSubscribers = 100;
constexpr int kCycles = 10;
// The poller reads every channel once at start, then not again during a latency block.
constexpr int kNoPolling = 3'600'000;

void sleep_s(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// Channel c reads flow 10 x c (set below; the simulator runs with --time-constant 0), so that
// a value from another channel's request shows.
float expected_flow(int channel) {
    return 10.0f * static_cast<float>(channel);
}

// `use` on a libqk42 handle on the simulator's line, closed after; then waits until the
// simulator has seen it let go, as the line's next owner may open it only then.
template <typename Use>
auto with_line(SimProcess& simulator, Use&& use) {
    const std::uint64_t hangups = simulator.hangups();
    auto result = use(open_line(simulator.device()).get());
    simulator.wait_for_hangups(hangups + 1);
    return result;
}

void set_flows(SimProcess& simulator) {
    const bool set = with_line(simulator, [](qk42_line* line) {
        bool ok = qk42_set_on_off(line, 1, 0xFF) == QK42_OK;
        for (int channel = 1; channel <= 8; ++channel) {
            ok = ok && qk42_set_setpoint(line, 1, channel, expected_flow(channel)) == QK42_OK;
        }
        return ok;
    });
    if (!set) throw std::runtime_error("cannot set the simulator's flows");
}

class Server {
  public:
    Server(const std::string& client, SimProcess& simulator, int poll_interval_ms)
        : simulator_(simulator),
          hangups_(simulator.hangups()),
          child_(client,
                 {"--device", simulator.device(), "serve", "--listen", "127.0.0.1:0", "--address",
                  "1", "--poll-interval", std::to_string(poll_interval_ms)},
                 {.input = false, .capture_stderr = false}) {
        const std::string listening = "listening: http://127.0.0.1:";
        while (port_ == 0) {
            const auto line = child_.read_line(20'000);
            if (!line) throw std::runtime_error("the server did not start");
            if (line->starts_with(listening)) port_ = std::stoi(line->substr(listening.size()));
        }
    }
    httplib::Client http() const {
        httplib::Client client("127.0.0.1", port_);
        client.set_keep_alive(true);
        client.set_tcp_nodelay(true);
        client.set_read_timeout(30, 0);
        return client;
    }
    // User + system time of all its threads: utime and stime, the 12th and 13th fields after
    // the command name (whose parentheses may hold anything), in clock ticks.
    double cpu_seconds() const {
        std::ifstream in("/proc/" + std::to_string(child_.pid()) + "/stat");
        const std::string text(std::istreambuf_iterator<char>(in), {});
        std::istringstream rest(text.substr(text.rfind(')') + 1));
        const std::vector<std::string> f{std::istream_iterator<std::string>(rest), {}};
        if (f.size() < 13) throw std::runtime_error("cannot read the server's /proc/PID/stat");
        return (std::stod(f[11]) + std::stod(f[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    // "VmRSS:" or "VmHWM:" of /proc/PID/status, in MiB.
    double memory_mib(const std::string& key) const {
        std::ifstream status("/proc/" + std::to_string(child_.pid()) + "/status");
        double kib = 0.0;
        for (std::string word; status >> word;) {
            if (word == key) status >> kib;
        }
        return kib / 1024.0;
    }
    // SIGTERM, as a user stops it: true when it ends cleanly within ten seconds. Returns once
    // the simulator has seen it let go of the line, as with_line does.
    bool stop() {
        child_.send_signal(SIGTERM);
        const bool clean = child_.finish(10'000).exit_code == 0;
        simulator_.wait_for_hangups(hangups_ + 1);
        return clean;
    }

  private:
    SimProcess& simulator_;
    std::uint64_t hangups_;
    testing::ChildProcess child_;
    int port_ = 0;
};

// GET .../flow of `channel`, answered with its flow.
bool read_flow(httplib::Client& http, int channel) {
    const auto result =
        http.Get("/api/v1/instruments/1/channels/" + std::to_string(channel) + "/flow");
    if (!result || result->status != 200) return false;
    const auto body = nlohmann::json::parse(result->body, nullptr, false);
    return body.is_object() && body.value("channel", 0) == channel && body["flow"].is_number() &&
           body["flow"].get<float>() == expected_flow(channel);
}

// `calls` timed calls of `read` (channels 1 to 8 in turn) after a few untimed ones: their wall
// times. Failed or wrong readings count in `wrong`.
template <typename Read>
std::vector<double> read_channels(int calls, std::atomic<long>& wrong, Read&& read) {
    int channel = 0;
    const auto next = [&] { return read(channel = channel % 8 + 1); };
    Samples warm, timed;
    time_calls(kWarmUpCalls, warm, next);
    time_calls(calls, timed, next);
    wrong += static_cast<long>(warm.failures + timed.failures);
    return timed.wall_us;
}

std::vector<double> direct_calls(SimProcess& simulator, int calls, std::atomic<long>& wrong) {
    return with_line(simulator, [&](qk42_line* line) {
        return read_channels(calls, wrong, [&](int channel) {
            float flow = 0.0f;
            int status = 0;
            return qk42_read_flow(line, 1, channel, &flow, &status) == QK42_OK &&
                   flow == expected_flow(channel);
        });
    });
}

// Waits until the simulator has framed no request for `quiet_ms`.
void wait_quiet(const SimProcess& simulator, int quiet_ms) {
    std::uint64_t seen = simulator.requests();
    double changed = wall_us();
    const bool quiet = wait_until(10, [&] {
        if (const std::uint64_t now = simulator.requests(); now != seen) {
            seen = now;
            changed = wall_us();
        }
        return wall_us() - changed >= quiet_ms * 1e3;
    });
    if (!quiet) throw std::runtime_error("the line did not fall quiet");
}

// The line as the simulator saw it: an exchange holds it from its request's arrival to its
// reply's last byte; the host's turnaround runs from there to the next request.
struct Wire {
    std::size_t exchanges = 0;
    double busy_us = 0.0;
    double span_us = 0.0;  // from the first request to the last reply's end, run by run
    std::vector<double> turnarounds_us;

    void add(const std::vector<testing::SimExchange>& run) {
        for (std::size_t i = 0; i < run.size(); ++i) {
            busy_us += (run[i].reply_end_s - run[i].request_s) * 1e6;
            if (i > 0) turnarounds_us.push_back((run[i].request_s - run[i - 1].reply_end_s) * 1e6);
        }
        if (!run.empty()) span_us += (run.back().reply_end_s - run.front().request_s) * 1e6;
        exchanges += run.size();
    }
    double per_second() const {
        return span_us > 0 ? static_cast<double>(exchanges) * 1e6 / span_us : 0.0;
    }
    Row row(const std::string& host) const {
        const Summary t = summarize(turnarounds_us);
        return {host, std::to_string(exchanges), fixed(100.0 * busy_us / span_us, 1) + " %",
                fixed(t.median / 1e3, 3), fixed(t.p99 / 1e3, 3)};
    }
};

// The line has one owner at a time, so rounds alternate a block of direct calls with a block
// through a server started for it and stopped after.
void flow_latency(const Settings& settings, Report& report, std::atomic<long>& wrong,
                  int& unclean_stops) {
    SimProcess simulator(settings.simulator, {"--time-constant", "0", "--timings"});
    set_flows(simulator);
    std::vector<double> direct, served;
    for (int round = 0; round < settings.serve_rounds; ++round) {
        const auto d = direct_calls(simulator, settings.serve_calls, wrong);
        direct.insert(direct.end(), d.begin(), d.end());
        Server server(settings.client, simulator, kNoPolling);
        wait_quiet(simulator, 200);
        httplib::Client http = server.http();
        const auto s = read_channels(settings.serve_calls, wrong,
                                     [&](int channel) { return read_flow(http, channel); });
        served.insert(served.end(), s.begin(), s.end());
        http.stop();
        unclean_stops += server.stop() ? 0 : 1;
    }
    const double d = summarize(direct).median / 1e3;
    const double h = summarize(served).median / 1e3;
    report.target("GET .../flow over qk42_read_flow, median",
                  fixed(h - d, 3) + " ms (" + fixed(h, 3) + " against " + fixed(d, 3) + ")",
                  "≤ 0.2 ms", h - d <= 0.2);
}

// The 16 clients, each reading one channel's flow in a loop, as the simulator saw them over a
// window that opens once every client has had its first answer.
Wire run_load(const Settings& settings, SimProcess& simulator, const Server& server,
              std::atomic<long>& wrong) {
    std::atomic<int> ready{0};
    std::vector<std::jthread> clients;  // stopped and joined however this ends
    for (int id = 0; id < kClients; ++id) {
        clients.emplace_back([&, id](std::stop_token stop) {
            httplib::Client http = server.http();
            long failed = read_flow(http, id % 8 + 1) ? 0 : 1;
            ++ready;
            while (!stop.stop_requested()) failed += read_flow(http, id % 8 + 1) ? 0 : 1;
            wrong += failed;
        });
    }
    if (!wait_until(30, [&] { return ready == kClients; })) {
        throw std::runtime_error("the server answers not every client");
    }
    simulator.record();
    sleep_s(settings.load_seconds);
    Wire load;
    load.add(simulator.take_recorded());
    return load;
}

struct Window {
    double seconds = 0.0;
    std::uint64_t requests = 0;
    double cpu_seconds = 0.0;
    double per_cycle() const { return static_cast<double>(requests) / kCycles; }
    double cpu_percent() const { return 100.0 * cpu_seconds / seconds; }
    // With the CPU per reading over the `got` readings all subscribers got.
    Row row(const std::string& subscribers, long got) const {
        const std::string per_reading = got ? fixed(cpu_seconds * 1e6 / got, 1) : "-";
        return {subscribers,
                fixed(seconds, 2),
                std::to_string(requests),
                fixed(per_cycle(), 2),
                fixed(cpu_seconds * 1e3, 0),
                fixed(cpu_percent(), 2) + " %",
                per_reading};
    }
};

// Event-stream subscribers, a thread each, counting the readings they get.
class Subscribers {
  public:
    explicit Subscribers(const Server& server) {
        for (int i = 0; i < kSubscribers; ++i) {
            threads_.emplace_back(
                [this, i, &server](std::stop_token stop) { listen(i, server.http(), stop); });
        }
    }
    ~Subscribers() { stop(); }
    bool all_connected() const {
        return wait_until(20, [this] { return connected_ == kSubscribers; });
    }
    std::vector<long> readings() const { return {readings_.begin(), readings_.end()}; }
    std::atomic<bool> counting{false};
    // Each ends at its next event, within a poll interval; how many streams broke before.
    int stop() {
        for (auto& thread : threads_) thread.request_stop();
        threads_.clear();
        return broken_;
    }

  private:
    void listen(int i, httplib::Client http, const std::stop_token& stop) {
        static const std::string kReading = "event: reading\n";
        std::string carry;
        bool seen = false;
        const auto result = http.Get("/api/v1/events", [&](const char* data, std::size_t size) {
            if (!std::exchange(seen, true)) ++connected_;
            carry.append(data, size);
            for (auto at = carry.find(kReading); at != std::string::npos;
                 at = carry.find(kReading, at + kReading.size())) {
                readings_[i] += counting ? 1 : 0;
            }
            // What is kept can begin a pattern but never hold a whole one.
            if (carry.size() >= kReading.size()) carry.erase(0, carry.size() - kReading.size() + 1);
            return !stop.stop_requested();
        });
        // Ended from here, it reads as canceled; anything else broke the stream.
        const auto error = result.error();
        if (!stop.stop_requested() ||
            (error != httplib::Error::Canceled && error != httplib::Error::Success)) {
            ++broken_;
        }
    }

    std::vector<std::atomic<long>> readings_ = std::vector<std::atomic<long>>(kSubscribers);
    std::atomic<int> connected_{0};
    std::atomic<int> broken_{0};
    std::vector<std::jthread> threads_;
};

// Ten poll cycles from half an interval after the end of a cycle's exchanges (no request for a
// quarter of an interval), the subscribers counting their readings meanwhile.
Window count_cycles(int interval_ms, const SimProcess& simulator, const Server& server,
                    Subscribers* subscribers = nullptr) {
    const std::uint64_t seen = simulator.requests();
    if (!wait_until(3e-3 * interval_ms + 5, [&] { return simulator.requests() != seen; })) {
        throw std::runtime_error("the server's poller has stopped");
    }
    wait_quiet(simulator, interval_ms / 4);
    sleep_s(interval_ms / 4e3);
    Window window;
    const std::uint64_t requests = simulator.requests();
    const double cpu = server.cpu_seconds();
    const double start = wall_us();
    if (subscribers) subscribers->counting = true;
    sleep_s(interval_ms * kCycles / 1e3);
    if (subscribers) subscribers->counting = false;
    window.requests = simulator.requests() - requests;
    window.cpu_seconds = server.cpu_seconds() - cpu;
    window.seconds = (wall_us() - start) / 1e6;
    return window;
}

// The 16 clients' load, the line's busy share against the median direct call on the same line
// (before the server starts and after it stops), then the subscribers and the memory.
void load_events_memory(const Settings& settings, Report& report, std::atomic<long>& wrong,
                        int& unclean_stops) {
    SimProcess simulator(settings.simulator, {"--time-constant", "0", "--pace", "--timings"});
    set_flows(simulator);
    Wire direct_wire;
    simulator.record();
    std::vector<double> direct = direct_calls(simulator, settings.paced_calls, wrong);
    direct_wire.add(simulator.take_recorded());

    const int interval = settings.poll_interval_ms;
    Server server(settings.client, simulator, interval);
    wait_quiet(simulator, std::min(200, interval / 4));
    const Wire load = run_load(settings, simulator, server, wrong);
    const Window quiet = count_cycles(interval, simulator, server);
    Subscribers subscribers(server);
    const bool all_connected = subscribers.all_connected();
    const Window listened = count_cycles(interval, simulator, server, &subscribers);
    const std::vector<long> readings = subscribers.readings();
    const int broken = subscribers.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double rss = server.memory_mib("VmRSS:");
    const double peak = server.memory_mib("VmHWM:");
    unclean_stops += server.stop() ? 0 : 1;
    simulator.record();
    const auto direct_after = direct_calls(simulator, settings.paced_calls, wrong);
    direct_wire.add(simulator.take_recorded());
    direct.insert(direct.end(), direct_after.begin(), direct_after.end());

    const double median_ms = summarize(direct).median / 1e3;
    const double busy = load.per_second() * median_ms / 10.0;
    const std::string clients = std::to_string(kClients) + " HTTP clients";
    report.target(clients + ": line busy",
                  fixed(busy, 1) + " % (" + fixed(load.per_second(), 1) + " exchanges/s × " +
                      fixed(median_ms, 3) + " ms)",
                  "≥ 95 %", busy >= 95.0);
    report.section(
        "The line under " + clients + ", paced at 9600 baud",
        "From the simulator's own timings: an exchange holds the line from its request's arrival "
        "to its reply's last byte; the host's turnaround runs from there to the next request. "
        "Times in milliseconds.",
        {"Host", "Exchanges", "Line busy", "Turnaround: median", "p99"},
        {direct_wire.row("qk42_read_flow, back to back"), load.row("the server, " + clients)});

    const auto [least, most] = std::minmax_element(readings.begin(), readings.end());
    const long expected = 8L * (kCycles - 1);
    const std::string who = std::to_string(kSubscribers) + " subscribers: ";
    const std::string poll = " (" + std::to_string(interval) + " ms poll)";
    report.target(who + "line requests per poll cycle" + poll,
                  fixed(listened.per_cycle(), 2) + " (" + fixed(quiet.per_cycle(), 2) + " without)",
                  "no more than without", listened.requests <= quiet.requests);
    report.target(who + "server CPU" + poll,
                  fixed(listened.cpu_percent(), 2) + " % of a core (" +
                      fixed(quiet.cpu_percent(), 2) + " % without)",
                  "≤ 2 %", listened.cpu_percent() <= 2.0);
    std::string trouble = all_connected ? "" : ", not all connected";
    if (broken != 0) trouble += ", " + std::to_string(broken) + " streams broke";
    report.target(who + "readings each one got in " + std::to_string(kCycles) + " cycles",
                  std::to_string(*least) + " to " + std::to_string(*most) + trouble,
                  "≥ " + std::to_string(expected), trouble.empty() && *least >= expected);
    const long delivered = std::accumulate(readings.begin(), readings.end(), 0L);
    const std::string tick = fixed(1e3 / static_cast<double>(sysconf(_SC_CLK_TCK)), 0);
    report.section("Event-stream subscribers" + poll,
                   "Ten whole poll cycles each. CPU: the server's user + system time (clock ticks "
                   "of " +
                       tick + " ms); per reading: over the readings all subscribers got.",
                   {"Subscribers", "Window (s)", "Requests", "Per cycle", "Server CPU (ms)",
                    "Of one core", "CPU per reading delivered (µs)"},
                   {quiet.row("none", 0), listened.row(std::to_string(kSubscribers), delivered)});
    report.target("Server resident memory after these runs (VmRSS)",
                  fixed(rss, 1) + " MiB (peak " + fixed(peak, 1) + " MiB)", "≤ 20 MiB",
                  rss <= 20.0);
}

}  // namespace

void server_costs(const Settings& settings, Report& report) {
    std::atomic<long> wrong{0};
    int unclean_stops = 0;
    flow_latency(settings, report, wrong, unclean_stops);
    load_events_memory(settings, report, wrong, unclean_stops);
    report.target("Answers failed or wrong (HTTP and direct), servers not stopping cleanly",
                  std::to_string(wrong) + ", " + std::to_string(unclean_stops), "0, 0",
                  wrong == 0 && unclean_stops == 0);
}

}  // namespace qk42rt::bench
