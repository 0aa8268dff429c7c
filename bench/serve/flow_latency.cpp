// GET .../flow against qk42_read_flow on the same line. The simulator's pseudo-terminal has one
// owner at a time (libqk42 and the server both claim it), so the two take turns in blocks:
// direct calls with no server running, then a server started on the line and HTTP calls
// through it, then the server stopped, over several rounds so that drift in the machine's
// load reaches both alike. The instrument answers at once, so the difference is what the
// server's path adds (HTTP, its queue, its worker thread) and not the line's own time.
#include <httplib.h>

#include <nlohmann/json.hpp>

#include "clocks.h"
#include "serve_bench.h"
#include "server_process.h"
#include "stats.h"

namespace qk42rt::bench {
namespace {

constexpr int kWarmUpCalls = 16;
// The server's poller reads every channel once at start, then not again during the block.
constexpr int kNoPolling = 3'600'000;

// One HTTP answer checked: status 200, the channel asked for, its flow.
bool right_answer(const httplib::Result& result, int channel) {
    if (!result || result->status != 200) return false;
    const auto body = nlohmann::json::parse(result->body, nullptr, false);
    return body.is_object() && body.value("channel", 0) == channel && body["flow"].is_number() &&
           body["flow"].get<float>() == expected_flow(channel);
}

std::vector<double> http_calls(const ServeSettings& settings, sim::Simulator& sim, Faults& faults) {
    const std::uint64_t hangups = sim.counters().hangups;
    ServerProcess server(settings.client, sim.slave_path(), kNoPolling);
    wait_quiet(sim, 200, 10'000);
    httplib::Client http("127.0.0.1", server.port());
    http.set_keep_alive(true);
    http.set_tcp_nodelay(true);
    http.set_read_timeout(5, 0);
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(settings.calls));
    for (int i = -kWarmUpCalls; i < settings.calls; ++i) {
        const int channel = (i + kWarmUpCalls) % 8 + 1;
        const std::string path =
            "/api/v1/instruments/1/channels/" + std::to_string(channel) + "/flow";
        const double start = wall_us();
        const auto result = http.Get(path);
        const double took = wall_us() - start;
        if (!right_answer(result, channel)) ++faults.wrong_answers;
        if (i >= 0) times.push_back(took);
    }
    http.stop();
    if (server.stop() != 0) ++faults.unclean_stops;
    if (!sim.wait_for_hangups(hangups + 1, 5000)) {
        throw std::runtime_error("the simulator did not see the server let go of the line");
    }
    return times;
}

Row row(const std::string& client, const Summary& s) {
    return {client,
            std::to_string(s.count),
            fixed(s.min / 1000.0, 3),
            fixed(s.median / 1000.0, 3),
            fixed(s.p99 / 1000.0, 3),
            fixed(s.max / 1000.0, 3)};
}

}  // namespace

void flow_latency(const ServeSettings& settings, Report& report, Faults& faults) {
    sim::Simulator sim(instant_flows(/*paced=*/false));
    set_flows(sim);
    std::vector<double> direct;
    std::vector<double> served;
    for (int round = 0; round < settings.rounds; ++round) {
        const auto d = direct_calls(sim, settings.calls, faults);
        direct.insert(direct.end(), d.begin(), d.end());
        const auto h = http_calls(settings, sim, faults);
        served.insert(served.end(), h.begin(), h.end());
    }
    const Summary d = summarize(direct);
    const Summary h = summarize(served);
    const double over_ms = (h.median - d.median) / 1000.0;
    report.target("GET .../flow over qk42_read_flow, median",
                  fixed(over_ms, 3) + " ms (" + fixed(h.median / 1000.0, 3) + " against " +
                      fixed(d.median / 1000.0, 3) + ")",
                  "≤ 0.2 ms", over_ms <= 0.2);
    report.section(
        "GET .../flow against qk42_read_flow, instrument answering at once",
        "Times in milliseconds per call, " + std::to_string(settings.rounds) +
            " rounds of a block of each on one simulator's pseudo-terminal (the line has one "
            "owner at a time: the server is started for its block and stopped after). HTTP: "
            "one keep-alive cpp-httplib client, the request until its whole answer is in.",
        {"Client", "Calls", "Min", "Median", "p99", "Max"},
        {row("qk42_read_flow", d), row("GET .../flow", h)});
}

}  // namespace qk42rt::bench
