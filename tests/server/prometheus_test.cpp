// The real Prometheus (Debian's) scrapes /metrics: its query API returns qk42_flow for every
// served channel, a flow that is not a number included.
#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "served.h"
#include "support/ser2net.h"

namespace qk42rt::testing {
namespace {

TEST(ServeMetrics, PrometheusScrapesAFlowForEveryServedChannel) {
    ASSERT_TRUE(std::filesystem::exists("/usr/bin/prometheus"))
        << "prometheus is missing: scripts/install-deps.sh installs it";
    sim::Simulator sim(test_sim_options({1, 2}));
    // One reading that is not a number (its sign bit set) must not fail the whole scrape.
    sim.update(2, [](sim::InstrumentState& s) {
        s.on_off = 0x01;
        s.channels[0].setpoint = s.channels[0].flow = std::bit_cast<float>(0xFFC00000U);
    });
    Served served(sim.slave_path(), {"--address", "1", "--address", "2", "--poll-interval", "200"});

    const std::string dir = ::testing::TempDir() + "qk42-prometheus-" + std::to_string(getpid());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir + "/data");
    std::ofstream(dir + "/prometheus.yml")
        << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
        << "scrape_configs:\n  - job_name: qk42\n    static_configs:\n"
        << "      - targets: ['127.0.0.1:" << served.port() << "']\n";
    const std::uint16_t port = free_loopback_port();
    ChildProcess prometheus(
        "/usr/bin/prometheus",
        {"--config.file=" + dir + "/prometheus.yml", "--storage.tsdb.path=" + dir + "/data",
         "--web.listen-address=127.0.0.1:" + std::to_string(port), "--log.level=warn"});
    httplib::Client query("127.0.0.1", port);
    query.set_connection_timeout(2, 0);
    nlohmann::json result;
    const bool scraped = eventually(
        [&] {
            prometheus.so_far();  // keeps its output pipes drained
            const auto answer = query.Get("/api/v1/query?query=qk42_flow");
            if (!answer || answer->status != 200) return false;
            result = nlohmann::json::parse(answer->body, nullptr, false);
            return !result.is_discarded() && result["data"]["result"].size() == 16;
        },
        40'000);
    ASSERT_TRUE(scraped) << result.dump() << prometheus.so_far().err;
    std::set<std::pair<std::string, std::string>> seen;
    for (const auto& series : result["data"]["result"]) {
        seen.insert({series["metric"]["address"].get<std::string>(),
                     series["metric"]["channel"].get<std::string>()});
        EXPECT_EQ(series["metric"]["job"], "qk42");
    }
    EXPECT_EQ(seen.size(), 16u) << "every address and channel once";
    for (const auto& series : result["data"]["result"]) {
        if (series["metric"]["address"] == "2" && series["metric"]["channel"] == "1") {
            EXPECT_EQ(series["value"][1], "NaN");
        }
    }
    const auto up = query.Get("/api/v1/query?query=qk42_line_up");
    ASSERT_TRUE(up);
    EXPECT_NE(up->body.find("\"1\"]"), std::string::npos) << up->body;
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qk42rt::testing
