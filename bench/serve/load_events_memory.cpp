// One server on a line the simulator paces at 9600 baud, as a real line runs:
//  - 16 HTTP clients reading flows as fast as they are answered. The line is busy the share
//    of the time it would be under back-to-back qk42_read_flow calls: exchanges per second the
//    simulator saw through the server, times the median duration of a direct call on the same
//    line (measured before the server starts and after it stops; the median, since a call
//    that the shared machine held up says nothing about the line). 100 % is a line that never
//    waits for the server. The simulator's transcript gives a second view: the share of the
//    time bytes were on the wire, and the host's turnaround between exchanges, for the direct
//    calls and through the server.
//  - 100 event-stream subscribers: the simulator's requests per poll cycle with them and
//    without, each over whole cycles (a window starts half an interval after a cycle's
//    exchanges, and spans a multiple of ten cycles, since every tenth cycle also reads the
//    settings), and the server's CPU time from /proc/PID/stat over the same window.
//  - the server's resident memory after all that, from /proc/PID/status.
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <numeric>
#include <sstream>
#include <thread>

#include "clocks.h"
#include "serve_bench.h"
#include "server_process.h"
#include "stats.h"

namespace qk42rt::bench {
namespace {

// Request and reply of a flow reading, at ten bits a byte and 9600 bit/s.
constexpr double kFlowLineMinimumUs = (2 + 5) * 10 / 9600.0 * 1e6;
constexpr int kChannels = 8;

double mean(const std::vector<double>& values) {
    return values.empty() ? 0.0
                          : std::accumulate(values.begin(), values.end(), 0.0) /
                                static_cast<double>(values.size());
}

std::string mib(long kib) {
    return fixed(static_cast<double>(kib) / 1024.0, 1);
}

void sleep_until_us(double when_us) {
    const double left = when_us - wall_us();
    if (left > 0) std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(left)));
}

bool right_flow(const httplib::Result& result, int channel) {
    if (!result || result->status != 200) return false;
    const auto body = nlohmann::json::parse(result->body, nullptr, false);
    return body.is_object() && body.value("channel", 0) == channel && body["flow"].is_number() &&
           body["flow"].get<float>() == expected_flow(channel);
}

// The simulator's own account of the line, from its transcript: when each request came and
// how many bytes it and its reply held. On the paced line an exchange holds the wire from the
// request's arrival for (request + reply bytes) of the simulator's byte times; the host's
// turnaround is the time from a reply's end to the next request.
struct Wire {
    std::size_t exchanges = 0;
    double wire_us = 0.0;  // bytes on the line
    double span_us = 0.0;  // from the first request to the last reply's end
    std::vector<double> turnarounds_us;
    double share() const { return span_us > 0 ? 100.0 * wire_us / span_us : 0.0; }
};

class WireLog {
  public:
    static constexpr double kByteUs = 1042.0;  // the simulator's pace: ten bits at 9600 bit/s

    // For sim::Options::transcript: runs on the simulator's thread.
    void take(const std::string& line) {
        if (!recording_) return;
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
    }

    void start() {
        std::lock_guard lock(mutex_);
        lines_.clear();
        recording_ = true;
    }

    // Adds the exchanges recorded since start() to `into`.
    void stop(Wire& into) {
        recording_ = false;
        std::lock_guard lock(mutex_);
        double request_at = -1.0;
        int request_bytes = 0;
        double first = -1.0;
        double last_end = -1.0;
        for (const std::string& line : lines_) {
            std::istringstream words(line);
            double seconds = 0.0;
            std::string kind;
            words >> seconds >> kind;
            int bytes = 0;
            for (std::string word; words >> word && word.size() == 2 &&
                                   std::isxdigit(static_cast<unsigned char>(word[0])) &&
                                   std::isxdigit(static_cast<unsigned char>(word[1]));) {
                ++bytes;
            }
            if (kind == "rx") {
                request_at = seconds * 1e6;
                request_bytes = bytes;
            } else if (kind == "tx" && request_at >= 0.0) {
                const double wire = (request_bytes + bytes) * kByteUs;
                if (first < 0.0) first = request_at;
                if (last_end >= 0.0) into.turnarounds_us.push_back(request_at - last_end);
                last_end = request_at + wire;
                into.wire_us += wire;
                ++into.exchanges;
                request_at = -1.0;
            }
        }
        if (first >= 0.0) into.span_us += last_end - first;
        lines_.clear();
    }

  private:
    std::atomic<bool> recording_{false};
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

struct Load {
    double seconds = 0.0;
    std::uint64_t exchanges = 0;
    std::vector<double> latencies;  // µs, requests that began inside the window
    Wire wire;
};

// `clients` keep-alive clients, each reading one channel's flow in a loop; the window opens
// once every client has had its first answer.
Load run_load(const ServeSettings& settings, const sim::Simulator& sim, WireLog& wire_log, int port,
              Faults& faults) {
    std::atomic<bool> stop{false};
    std::atomic<bool> counting{false};
    std::atomic<int> ready{0};
    std::atomic<long> wrong{0};
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(settings.clients));
    std::vector<std::thread> clients;
    for (int id = 0; id < settings.clients; ++id) {
        clients.emplace_back([&, id] {
            httplib::Client http("127.0.0.1", port);
            http.set_keep_alive(true);
            http.set_tcp_nodelay(true);
            http.set_read_timeout(10, 0);
            const int channel = id % kChannels + 1;
            const std::string path =
                "/api/v1/instruments/1/channels/" + std::to_string(channel) + "/flow";
            for (bool first = true; !stop; first = false) {
                const bool counted = counting;
                const double start = wall_us();
                const auto result = http.Get(path);
                const double took = wall_us() - start;
                if (!right_flow(result, channel)) ++wrong;
                if (first) ++ready;
                if (counted && !stop) latencies[static_cast<std::size_t>(id)].push_back(took);
            }
            http.stop();
        });
    }
    while (ready < settings.clients) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Load load;
    counting = true;
    wire_log.start();
    const std::uint64_t before = sim.counters().requests;
    const double start = wall_us();
    sleep_until_us(start + settings.load_seconds * 1e6);
    load.exchanges = sim.counters().requests - before;
    load.seconds = (wall_us() - start) / 1e6;
    wire_log.stop(load.wire);
    stop = true;
    for (auto& client : clients) client.join();
    faults.wrong_answers += wrong;
    for (const auto& own : latencies)
        load.latencies.insert(load.latencies.end(), own.begin(), own.end());
    return load;
}

// Half an interval after the end of a poll cycle's exchanges (no request for a quarter of
// an interval): a window of whole cycles starts there.
void wait_for_cycle_gap(const sim::Simulator& sim, int interval_ms) {
    const double give_up = wall_us() + 3e3 * interval_ms + 5e6;
    const std::uint64_t seen = sim.counters().requests;
    while (sim.counters().requests == seen) {
        if (wall_us() > give_up) throw std::runtime_error("the server's poller has stopped");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::uint64_t last = sim.counters().requests;
    double changed = wall_us();
    while (wall_us() - changed < interval_ms * 250.0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const std::uint64_t now = sim.counters().requests;
        if (now != last) {
            last = now;
            changed = wall_us();
        }
    }
    sleep_until_us(changed + interval_ms * 500.0);
}

struct Window {
    int cycles = 0;
    double seconds = 0.0;
    std::uint64_t requests = 0;
    double cpu_seconds = 0.0;
    double requests_per_cycle() const { return static_cast<double>(requests) / cycles; }
    double cpu_percent() const { return 100.0 * cpu_seconds / seconds; }
};

Window count_cycles(const ServeSettings& settings, const sim::Simulator& sim, pid_t server,
                    const std::function<void()>& at_start = {}) {
    wait_for_cycle_gap(sim, settings.poll_interval_ms);
    if (at_start) at_start();
    Window window;
    window.cycles = settings.poll_cycles;
    const std::uint64_t requests = sim.counters().requests;
    const double cpu = process_cpu_seconds(server);
    const double start = wall_us();
    sleep_until_us(start + 1e3 * settings.poll_interval_ms * settings.poll_cycles);
    window.requests = sim.counters().requests - requests;
    window.cpu_seconds = process_cpu_seconds(server) - cpu;
    window.seconds = (wall_us() - start) / 1e6;
    return window;
}

struct Subscriber {
    std::atomic<bool> connected{false};
    std::atomic<long> readings{0};
    bool failed = false;
    std::thread thread;
};

class Subscribers {
  public:
    Subscribers(int count, int port) {
        for (int i = 0; i < count; ++i) {
            auto& s = *all_.emplace_back(std::make_unique<Subscriber>());
            s.thread = std::thread([this, &s, port] { listen(s, port); });
        }
    }
    ~Subscribers() { stop(); }

    // True once every subscriber has its stream open (its first bytes came).
    bool wait_connected(int limit_ms) const {
        const double until = wall_us() + limit_ms * 1000.0;
        while (wall_us() < until) {
            int connected = 0;
            for (const auto& s : all_) connected += s->connected ? 1 : 0;
            if (connected == static_cast<int>(all_.size())) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    std::vector<long> readings() const {
        std::vector<long> counts;
        for (const auto& s : all_) counts.push_back(s->readings);
        return counts;
    }

    // Each ends at its next event: within one poll interval. Returns how many streams broke
    // before that.
    int stop() {
        stopping_ = true;
        int broken = 0;
        for (auto& s : all_) {
            if (s->thread.joinable()) s->thread.join();
            broken += s->failed ? 1 : 0;
        }
        return broken;
    }

  private:
    void listen(Subscriber& s, int port) {
        static const std::string kReading = "event: reading\n";
        httplib::Client http("127.0.0.1", port);
        http.set_read_timeout(30, 0);
        std::string carry;
        const auto result = http.Get("/api/v1/events", [&](const char* data, std::size_t size) {
            s.connected = true;
            carry.append(data, size);
            for (auto at = carry.find(kReading); at != std::string::npos;
                 at = carry.find(kReading, at + kReading.size())) {
                ++s.readings;
            }
            // What is kept can begin a pattern but never hold a whole one.
            if (carry.size() >= kReading.size()) carry.erase(0, carry.size() - kReading.size() + 1);
            return !stopping_;
        });
        // Ending it from here reads as "canceled"; anything else broke the stream.
        s.failed = !stopping_ || (result.error() != httplib::Error::Canceled &&
                                  result.error() != httplib::Error::Success);
    }

    std::vector<std::unique_ptr<Subscriber>> all_;
    std::atomic<bool> stopping_{false};
};

}  // namespace

void load_events_memory(const ServeSettings& settings, Report& report, Faults& faults) {
    WireLog wire_log;
    sim::Options options = instant_flows(/*paced=*/true);
    options.transcript = [&wire_log](const std::string& line) { wire_log.take(line); };
    sim::Simulator sim(options);
    set_flows(sim);
    Wire direct_wire;
    wire_log.start();
    std::vector<double> direct = direct_calls(sim, settings.paced_calls, faults);
    wire_log.stop(direct_wire);

    const std::uint64_t hangups = sim.counters().hangups;
    ServerProcess server(settings.client, sim.slave_path(), settings.poll_interval_ms);
    wait_quiet(sim, std::min(200, settings.poll_interval_ms / 4), 10'000);
    const ResidentMemory at_start = resident_memory(server.pid());

    // 2: the line under 16 clients.
    const Load load = run_load(settings, sim, wire_log, server.port(), faults);
    const ResidentMemory after_load = resident_memory(server.pid());

    // 3: the event stream, first without subscribers, then with them.
    const Window quiet = count_cycles(settings, sim, server.pid());
    Subscribers subscribers(settings.subscribers, server.port());
    const bool all_connected = subscribers.wait_connected(20'000);
    std::vector<long> readings_before;
    const Window listened = count_cycles(settings, sim, server.pid(),
                                         [&] { readings_before = subscribers.readings(); });
    std::vector<long> readings = subscribers.readings();
    for (std::size_t i = 0; i < readings.size(); ++i) readings[i] -= readings_before[i];
    const ResidentMemory with_subscribers = resident_memory(server.pid());
    const int broken = subscribers.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const ResidentMemory after = resident_memory(server.pid());

    if (server.stop() != 0) ++faults.unclean_stops;
    if (!sim.wait_for_hangups(hangups + 1, 5000)) {
        throw std::runtime_error("the simulator did not see the server let go of the line");
    }
    wire_log.start();
    const auto direct_after = direct_calls(sim, settings.paced_calls, faults);
    wire_log.stop(direct_wire);
    direct.insert(direct.end(), direct_after.begin(), direct_after.end());

    // 2's figures.
    const Summary d = summarize(direct);
    const Summary h = summarize(load.latencies);
    const double per_second = static_cast<double>(load.exchanges) / load.seconds;
    const double busy = 100.0 * per_second * d.median / 1e6;
    report.target(std::to_string(settings.clients) + " HTTP clients: line busy",
                  fixed(busy, 1) + " % (" + fixed(per_second, 1) + " exchanges/s × " +
                      fixed(d.median / 1000.0, 3) + " ms)",
                  "≥ 95 %", busy >= 95.0);
    report.section(
        "The line under " + std::to_string(settings.clients) + " HTTP clients, paced at 9600 baud",
        "Busy: exchanges per second the simulator saw through the server over the window, times "
        "the median duration of a qk42_read_flow call on the same line (" +
            std::to_string(direct.size()) +
            " calls, half before the server started, half after it stopped): the share of the "
            "time the line would be busy under back-to-back direct calls. Times in milliseconds.",
        {"Window (s)", "Exchanges", "Exchanges/s", "Direct call: median", "mean", "Line minimum",
         "Busy", "HTTP answer under load: median", "p99"},
        {{fixed(load.seconds, 1), std::to_string(load.exchanges), fixed(per_second, 1),
          fixed(d.median / 1000.0, 3), fixed(mean(direct) / 1000.0, 3),
          fixed(kFlowLineMinimumUs / 1000.0, 3), fixed(busy, 1) + " %", fixed(h.median / 1000.0, 1),
          fixed(h.p99 / 1000.0, 1)}});
    const auto wire_row = [](const std::string& who, const Wire& w) -> Row {
        const Summary t = summarize(w.turnarounds_us);
        return {who, std::to_string(w.exchanges), fixed(w.share(), 1) + " %",
                fixed(t.median / 1000.0, 3), fixed(t.p99 / 1000.0, 3)};
    };
    report.section(
        "The same line as the simulator saw it",
        "From its transcript: an exchange holds the wire from its request's arrival for its "
        "request and reply bytes at the simulator's byte time (1.042 ms); the host's turnaround "
        "runs from a reply's end to the next request. Times in milliseconds.",
        {"Host", "Exchanges", "Bytes on the wire", "Turnaround: median", "p99"},
        {wire_row("qk42_read_flow, back to back", direct_wire),
         wire_row("the server, " + std::to_string(settings.clients) + " HTTP clients", load.wire)});

    // 3's figures.
    const long least = readings.empty() ? 0 : *std::min_element(readings.begin(), readings.end());
    const long most = readings.empty() ? 0 : *std::max_element(readings.begin(), readings.end());
    const long expected = static_cast<long>(kChannels) * (settings.poll_cycles - 1);
    const std::string subscribers_text = std::to_string(settings.subscribers) + " subscribers";
    const std::string poll_text = std::to_string(settings.poll_interval_ms) + " ms poll";
    report.target(subscribers_text + ": line requests per poll cycle (" + poll_text + ")",
                  fixed(listened.requests_per_cycle(), 2) + " (" +
                      fixed(quiet.requests_per_cycle(), 2) + " without)",
                  "no more than without", listened.requests <= quiet.requests);
    report.target(subscribers_text + ": server CPU (" + poll_text + ")",
                  fixed(listened.cpu_percent(), 2) + " % of a core (" +
                      fixed(quiet.cpu_percent(), 2) + " % without)",
                  "≤ 2 %", listened.cpu_percent() <= 2.0);
    std::string trouble;
    if (!all_connected) trouble += ", not all connected";
    if (broken != 0) trouble += ", " + std::to_string(broken) + " streams broke";
    report.target(subscribers_text + ": readings each one got in " +
                      std::to_string(settings.poll_cycles) + " cycles",
                  std::to_string(least) + " to " + std::to_string(most) + trouble,
                  "≥ " + std::to_string(expected), trouble.empty() && least >= expected);
    const long delivered = std::accumulate(readings.begin(), readings.end(), 0L);
    const auto window_row = [&](const std::string& who, const Window& w, long got) -> Row {
        return {who,
                std::to_string(w.cycles),
                fixed(w.seconds, 2),
                std::to_string(w.requests),
                fixed(w.requests_per_cycle(), 2),
                fixed(w.cpu_seconds * 1000.0, 0),
                fixed(w.cpu_percent(), 2) + " %",
                got == 0 ? "-" : fixed(w.cpu_seconds * 1e6 / static_cast<double>(got), 1)};
    };
    report.section(
        "Event-stream subscribers at a " + poll_text,
        "Requests: those the simulator framed in a window of whole poll cycles. CPU: the "
        "server's user + system time from /proc/PID/stat (all its threads; clock ticks of " +
            fixed(1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK)), 0) +
            " ms). Per reading: that CPU time over the reading events all subscribers got.",
        {"Subscribers", "Cycles", "Window (s)", "Requests", "Per cycle", "Server CPU (ms)",
         "Of one core", "CPU per reading delivered (µs)"},
        {window_row("none", quiet, 0),
         window_row(std::to_string(settings.subscribers), listened, delivered)});

    // 4's figures.
    report.target("Server resident memory after these runs (VmRSS)",
                  mib(after.rss_kib) + " MiB (peak " + mib(after.peak_kib) + " MiB)", "≤ 20 MiB",
                  after.rss_kib <= 20 * 1024);
    report.section("The server's resident memory", "VmRSS from /proc/PID/status, in MiB.",
                   {"Started, first poll done", "After the HTTP clients",
                    "With " + subscribers_text, "After they left", "Peak (VmHWM)"},
                   {{mib(at_start.rss_kib), mib(after_load.rss_kib), mib(with_subscribers.rss_kib),
                     mib(after.rss_kib), mib(after.peak_kib)}});
}

}  // namespace qk42rt::bench
