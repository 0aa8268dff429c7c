// /metrics as Prometheus parses it: readings that are not numbers (a NaN with its sign bit
// set, infinities) are spelled so that the scrape still parses.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <regex>
#include <sstream>

#include "served.h"

namespace qk42rt::testing {
namespace {

// Whether Prometheus's text parser takes `text` as a sample value. It reads values with Go's
// ParseFloat, which takes NaN and Inf in any case, infinity with a sign, and no sign on NaN.
bool prometheus_float(const std::string& text) {
    static const std::regex number(R"([+-]?([0-9]+(\.[0-9]*)?|\.[0-9]+)([eE][+-]?[0-9]+)?)");
    static const std::regex special("[+-]?inf(inity)?|nan", std::regex::icase);
    return std::regex_match(text, number) || std::regex_match(text, special);
}

TEST(ServeMetrics, TheSampleValueCheckReadsAsPrometheusDoes) {
    struct Case {
        const char* text;
        bool parses;
    };
    const Case cases[] = {
        {"43.67", true}, {"1e+10", true},     {"-0.5", true}, {"0", true},
        {"NaN", true},   {"+Inf", true},      {"-Inf", true}, {"-nan", false},
        {"+NaN", false}, {"nan(0x1)", false}, {"", false},    {"1,5", false},
    };
    for (const Case& c : cases) EXPECT_EQ(prometheus_float(c.text), c.parses) << c.text;
}

TEST(ServeMetrics, ReadingsThatAreNotNumbersKeepTheScrapeParseable) {
    sim::Simulator sim(test_sim_options({1}));
    Served served(sim.slave_path(), {"--address", "1", "--poll-interval", "100"});
    // The simulated flow follows its setpoint at once while the channel is on.
    const float negative_nan = std::bit_cast<float>(std::uint32_t{0xFFC00000});
    const float infinity = std::numeric_limits<float>::infinity();
    sim.update(1, [&](sim::InstrumentState& s) {
        s.on_off = 0x0F;
        s.channels[0].setpoint = s.channels[0].flow = negative_nan;
        s.channels[1].setpoint = infinity;
        s.channels[2].setpoint = -infinity;
        s.channels[3].setpoint = 43.67f;
    });
    // (An infinite flow does not last in the simulator: its next step makes it a NaN.)
    const std::string expected[] = {
        R"(qk42_flow{line="line1",address="1",channel="1"} NaN)",
        R"(qk42_flow{line="line1",address="1",channel="4"} 43.67)",
        R"(qk42_setpoint{line="line1",address="1",channel="1"} NaN)",
        R"(qk42_setpoint{line="line1",address="1",channel="2"} +Inf)",
        R"(qk42_setpoint{line="line1",address="1",channel="3"} -Inf)",
    };
    httplib::Client http = served.client();
    std::string text;
    // The setpoints are polled every tenth cycle: within about a second.
    const bool all_there = eventually(
        [&] {
            const auto metrics = http.Get("/metrics");
            text = metrics ? metrics->body : "";
            for (const std::string& line : expected) {
                if (text.find(line + "\n") == std::string::npos) return false;
            }
            return true;
        },
        8000);
    EXPECT_TRUE(all_there) << text;

    std::istringstream lines(text);
    int samples = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        ++samples;
        const std::string value = line.substr(line.rfind(' ') + 1);
        EXPECT_TRUE(prometheus_float(value)) << line;
    }
    EXPECT_GT(samples, 20);

    // The JSON API has no such numbers: null.
    const auto flow = http.Get("/api/v1/instruments/1/channels/1/flow");
    ASSERT_TRUE(flow);
    EXPECT_EQ(flow->body, R"({"channel":1,"flow":null,"status":0})");
}

}  // namespace
}  // namespace qk42rt::testing
