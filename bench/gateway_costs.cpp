// The gateway over MQTT, through Debian's mosquitto: an API request answered over MQTT against
// libqk42 called directly on the same simulator; the time from a poll's reading to a
// subscriber; the gateway's CPU and memory serving 8 lines of 8 instruments; and, with
// --plant, 16 gateways of 8 lines of 8 instruments through one broker for a minute.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "bench.h"
#include "support/mosquitto.h"
#include "support/sim_process.h"
#include "wire.h"

namespace qk42rt::bench {
namespace {

using testing::Broker;
using testing::ChildProcess;
using testing::MqttMessage;
using testing::MqttPeer;
using testing::SimProcess;

constexpr int kLines = 8;
constexpr int kInstruments = 8;
constexpr int kPlantGateways = 16;
constexpr int kNoPolling = 3'600'000;

double now_s() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count();
}

// "2026-12-08T10:00:00.000Z" at the start of a flow payload's "time", in seconds since 1970.
double reading_time(const std::string& payload) {
    const std::size_t at = payload.find("\"time\":\"");
    if (at == std::string::npos) return 0.0;
    std::tm tm{};
    int ms = 0;
    if (std::sscanf(payload.c_str() + at + 8, "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &tm.tm_year,
                    &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &ms) != 7) {
        return 0.0;
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return static_cast<double>(timegm(&tm)) + ms / 1e3;
}

// A gateway process serving the lines of `config` (TOML), until destroyed.
class Gateway {
  public:
    Gateway(const Settings& settings, const std::string& config)
        : path_(std::filesystem::temp_directory_path() /
                ("qk42rt-bench-gateway-" + std::to_string(getpid()) + "-" +
                 std::to_string(count_++) + ".toml")) {
        std::ofstream(path_) << config;
        child_ = std::make_unique<ChildProcess>(
            settings.client, std::vector<std::string>{"serve", "--config", path_.string()},
            ChildProcess::Pipes{.input = false, .capture_stderr = false});
        for (std::string line; !line.starts_with("listening: ");) {
            const auto next = child_->read_line(30'000);
            if (!next) throw std::runtime_error("the gateway did not start");
            line = *next;
        }
    }
    ~Gateway() {
        child_->send_signal(SIGTERM);
        child_->finish(10'000);
        std::filesystem::remove(path_);
    }
    // User + system time of all its threads, from /proc/PID/stat, in seconds.
    double cpu_seconds() const {
        std::ifstream in("/proc/" + std::to_string(child_->pid()) + "/stat");
        const std::string text(std::istreambuf_iterator<char>(in), {});
        std::istringstream rest(text.substr(text.rfind(')') + 1));
        const std::vector<std::string> f{std::istream_iterator<std::string>(rest), {}};
        if (f.size() < 13) throw std::runtime_error("cannot read the gateway's /proc/PID/stat");
        return (std::stod(f[11]) + std::stod(f[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    double rss_mib() const {
        std::ifstream status("/proc/" + std::to_string(child_->pid()) + "/status");
        double kib = 0.0;
        for (std::string word; status >> word;) {
            if (word == "VmRSS:") status >> kib;
        }
        return kib / 1024.0;
    }

  private:
    static inline int count_ = 0;
    std::filesystem::path path_;
    std::unique_ptr<ChildProcess> child_;
};

std::string config_of(const Broker& broker, const std::string& base,
                      const std::vector<const SimProcess*>& lines, int poll_ms,
                      const std::string& listen = "127.0.0.1:0") {
    std::ostringstream c;
    c << "[http]\nlisten = \"" << listen << "\"\n[mqtt]\nbroker = \"" << broker.url()
      << "\"\nbase = \"" << base << "\"\nclient_id = \"" << base << "\"\n";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        c << "[[line]]\nname = \"l" << i + 1 << "\"\ndevice = \"" << lines[i]->device()
          << "\"\naddresses = [1, 2, 3, 4, 5, 6, 7, 8]\npoll_interval_ms = " << poll_ms << '\n';
    }
    return c.str();
}

std::vector<std::unique_ptr<SimProcess>> simulators(const Settings& settings, int count) {
    std::vector<std::string> options{"--time-constant", "0"};
    for (int a = 1; a <= kInstruments; ++a) {
        options.insert(options.end(), {"--address", std::to_string(a)});
    }
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int i = 0; i < count; ++i) {
        sims.push_back(std::make_unique<SimProcess>(settings.simulator, options));
    }
    return sims;
}

// Flow messages as a subscriber gets them: how many per topic, and each one's delay from its
// reading (milliseconds; the payload's time has millisecond steps).
struct FlowCounter {
    std::mutex mutex;
    std::map<std::string, long> per_topic;
    std::vector<double> delays_ms;
    std::atomic<bool> counting{false};

    void take(const MqttMessage& m) {
        if (!counting || m.retained) return;
        const double delay = (now_s() - reading_time(m.payload)) * 1e3;
        std::lock_guard lock(mutex);
        ++per_topic[m.topic];
        delays_ms.push_back(delay);
    }
};

// Requests over MQTT 5 (response topic, correlation data) against direct calls: each on a
// line of its own, one owner at a time, the direct calls before the gateway starts and after.
void round_trip(const Settings& settings, Report& report, const Broker& broker) {
    SimProcess sim(settings.simulator, {"--time-constant", "0"});
    const auto direct_block = [&] {
        Samples s;
        const Qk42Line line = open_line(sim.device());
        time_calls(settings.serve_calls, s, [&] {
            float flow = 0.0f;
            int status = 0;
            return qk42_read_flow(line.get(), 1, 1, &flow, &status) == QK42_OK;
        });
        return s;
    };
    Samples direct = direct_block();
    Samples over_mqtt;
    {
        Gateway gateway(settings, config_of(broker, "bench/rt", {}, kNoPolling) +
                                      "[[line]]\nname = \"l1\"\ndevice = \"" + sim.device() +
                                      "\"\naddresses = [1]\npoll_interval_ms = " +
                                      std::to_string(kNoPolling) + "\n");
        MqttPeer peer(broker.port());
        peer.subscribe("bench/replies");
        peer.subscribe("bench/rt/status");
        if (!peer.wait_for("bench/rt/status", 10'000,
                           [](const MqttMessage& m) { return m.payload == "online"; })) {
            throw std::runtime_error("the gateway is not on the broker");
        }
        int n = 0;
        time_calls(settings.serve_calls, over_mqtt, [&] {
            const std::string id = std::to_string(++n);
            peer.publish("bench/rt/l1/request",
                         R"({"method":"GET","path":"/instruments/1/channels/1/flow"})", false,
                         "bench/replies", id);
            return peer
                .wait_for("bench/replies", 10'000,
                          [&](const MqttMessage& m) {
                              return m.correlation_data == id &&
                                     m.payload.starts_with(R"({"status":200)");
                          })
                .has_value();
        });
    }
    const Samples after = direct_block();
    direct.wall_us.insert(direct.wall_us.end(), after.wall_us.begin(), after.wall_us.end());
    const double d = summarize(direct.wall_us).median / 1e3;
    const double m = summarize(over_mqtt.wall_us).median / 1e3;
    report.target("MQTT request/response over qk42_read_flow, median",
                  fixed(m - d, 3) + " ms (" + fixed(m, 3) + " against " + fixed(d, 3) + ")",
                  "≤ +1 ms", m - d <= 1.0 && over_mqtt.failures == 0);
}

// The flows of `gateways` gateways of `kLines` lines each, counted by one subscriber over
// `seconds`: messages per second, delays, and channels that missed a poll.
struct Window {
    double seconds = 0;
    long messages = 0;
    Summary delay;
    long lost = 0;  // polls a channel's topic missed
};

Window count_flows(const Broker& broker, const std::string& pattern, int channels, double seconds,
                   int poll_ms) {
    MqttPeer peer(broker.port());
    FlowCounter counter;
    peer.tap([&](const MqttMessage& m) { counter.take(m); });
    peer.subscribe(pattern);
    std::this_thread::sleep_for(std::chrono::milliseconds(2 * poll_ms));
    counter.counting = true;
    const double start = now_s();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    counter.counting = false;
    Window w;
    w.seconds = now_s() - start;
    std::lock_guard lock(counter.mutex);
    const long polls = static_cast<long>(w.seconds * 1e3 / poll_ms);
    for (const auto& [topic, count] : counter.per_topic) {
        w.messages += count;
        w.lost += std::max(0L, polls - 1 - count);  // the window may cut one poll short
    }
    w.lost += static_cast<long>(channels - static_cast<int>(counter.per_topic.size())) * polls;
    w.delay = summarize(counter.delays_ms);
    return w;
}

void eight_lines(const Settings& settings, Report& report, const Broker& broker) {
    const auto sims = simulators(settings, kLines);
    std::vector<const SimProcess*> lines;
    for (const auto& s : sims) lines.push_back(s.get());
    Gateway gateway(settings, config_of(broker, "bench/gw", lines, 1000));
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the scans and first polls
    const double cpu = gateway.cpu_seconds();
    const Window w = count_flows(broker, "bench/gw/+/+/+/flow", kLines * kInstruments * 8,
                                 settings.gateway_seconds, 1000);
    const double percent = 100.0 * (gateway.cpu_seconds() - cpu) / (w.seconds + 2.0);
    const double rss = gateway.rss_mib();
    report.figure("Poll to subscriber, median (8 lines × 8 instruments, 1 s poll)",
                  fixed(w.delay.median, 1) + " ms (p99 " + fixed(w.delay.p99, 1) + ")",
                  "from the reading's time, in milliseconds, to the subscriber");
    report.target("Gateway CPU, 8 lines × 8 instruments at a 1 s poll",
                  fixed(percent, 2) + " % of a core", "≤ 3 %", percent <= 3.0);
    report.target("Gateway resident memory (VmRSS), 8 × 8", fixed(rss, 1) + " MiB", "≤ 30 MiB",
                  rss <= 30.0);
    report.target("Flow readings lost over " + fixed(w.seconds, 0) + " s, 8 × 8",
                  std::to_string(w.lost), "0", w.lost == 0);
}

}  // namespace

void gateway_costs(const Settings& settings, Report& report) {
    Broker broker;
    round_trip(settings, report, broker);
    eight_lines(settings, report, broker);
}

void plant(const Settings& settings, Report& report) {
    Broker broker("max_queued_messages 100000\n");
    const auto sims = simulators(settings, kPlantGateways * kLines);
    std::vector<std::unique_ptr<Gateway>> gateways;
    for (int g = 0; g < kPlantGateways; ++g) {
        std::vector<const SimProcess*> lines;
        for (int l = 0; l < kLines; ++l) lines.push_back(sims[g * kLines + l].get());
        gateways.push_back(std::make_unique<Gateway>(
            settings, config_of(broker, "plant/g" + std::to_string(g + 1), lines, 1000)));
    }
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const int channels = kPlantGateways * kLines * kInstruments * 8;
    const Window w =
        count_flows(broker, "plant/+/+/+/+/flow", channels, settings.plant_seconds, 1000);
    report.section(
        "A plant on one machine: 16 gateways × 8 lines × 8 instruments, one mosquitto",
        "1,024 simulated instruments, 8,192 channels, a 1 s poll; one subscriber to every flow "
        "topic. Delay: from the reading's time (milliseconds) to the subscriber.",
        {"Window (s)", "Flow messages/s (in, and out again)", "Delay median (ms)", "p99 (ms)",
         "Readings lost"},
        {{fixed(w.seconds, 0), fixed(static_cast<double>(w.messages) / w.seconds, 0),
          fixed(w.delay.median, 1), fixed(w.delay.p99, 1), std::to_string(w.lost)}});
    report.target("Plant: readings lost (every channel's flow topic updated every poll)",
                  std::to_string(w.lost), "0", w.lost == 0);
}

}  // namespace qk42rt::bench
