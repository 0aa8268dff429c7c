// The route table without HTTP: run_route() answers exactly as the HTTP API does (what any
// other front relies on), find_route() finds what the HTTP router finds, and each route tells
// the cache, the instruments list and the metrics what it found.
#include "route_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <regex>

#include "run_route.h"
#include "served.h"
#include "simulator.h"

namespace qk42rt::server {
namespace {

using namespace std::chrono_literals;

const std::string kJson = "application/json";

// One instrument, served over HTTP on the simulator's pseudo-terminal, and run in this process
// through its TCP side: both ends see the same instrument.
class ServeRouteTable : public ::testing::Test {
  protected:
    ServeRouteTable()
        : sim(testing::test_sim_options({1}, /*tcp=*/true)),
          served(sim.slave_path(), {"--address", "1", "--poll-interval", "3600000"}),
          worker("tcp://" + sim.tcp_address(), {}),
          instruments({1}),
          context{worker, cache, metrics, instruments, stopping} {}

    void SetUp() override { ASSERT_TRUE(worker.wait_until_up(3000ms)); }

    // The route as another front would find and run it.
    Answer run(const std::string& method, const std::string& path, const std::string& body) {
        const RouteLookup found = find_route(method, path);
        if (!found.route) return no_route_answer(method, path, found.allow);
        return run_route(*found.route, {found.params, body}, context);
    }

    httplib::Result http(const std::string& method, const std::string& path,
                         const std::string& body) {
        httplib::Request request;
        request.method = method;
        request.path = "/api/v1" + path;
        request.body = body;
        if (!body.empty()) request.set_header("Content-Type", kJson);
        return served.client().send(request);
    }

    // Exchanges counted under `result` so far.
    std::uint64_t exchanges(const std::string& result) const {
        const std::regex line("qk42_exchanges_total\\{line=\"line1\",result=\"" + result +
                              "\"\\} ([0-9]+)");
        std::smatch match;
        const std::string text = metrics.text(cache);
        return std::regex_search(text, match, line) ? std::stoull(match[1]) : 0;
    }

    sim::Simulator sim;
    testing::Served served;
    Metrics metrics;
    ReadingCache cache;
    LineWorker worker;
    Instruments instruments;
    std::atomic<bool> stopping{false};
    Context context;
};

TEST_F(ServeRouteTable, RunRouteAnswersWhatHttpAnswers) {
    struct Ask {
        std::string method, path, body;
        int status;
    };
    const Ask asks[] = {
        {"GET", "/instruments/1/channels/2/maxflow", "", 200},
        {"PUT", "/instruments/1/channels/2/setpoint", R"({"setpoint":40.5})", 200},
        {"GET", "/instruments/1/channels/2/setpoint", "", 200},
        {"PUT", "/instruments/1/channels/2/maxflow", R"({"maxflow":120.5})", 200},
        {"POST", "/instruments/1/integration", R"({"control":"reset"})", 200},
        {"PUT", "/instruments/1/display", R"({"flag1":true,"flag2":false})", 200},
        {"GET", "/instruments/1/status", "", 200},
        {"GET", "/instruments/1/version", "", 200},
        {"GET", "/instruments/1/ratio-total", "", 200},
        {"PUT", "/instruments/1/channels/2/unit", R"({"unit":9})", 400},
        {"PUT", "/instruments/1/onoff", "forty", 400},
        {"POST", "/instruments/1/integration", R"({"control":"go"})", 400},
        {"PUT", "/instruments/1/ratio-total", R"({"channel":1,"value":1,"channel2":9})", 400},
        {"GET", "/instruments/2/version", "", 404},
        {"GET", "/instruments/1/channels/9/flow", "", 404},
        {"GET", "/instruments/1/channels/0/flow", "", 404},
        {"PUT", "/instruments/1/channels/1/flow", "{}", 405},
    };
    for (const Ask& ask : asks) {
        SCOPED_TRACE(ask.method + " " + ask.path + " " + ask.body);
        const Answer direct = run(ask.method, ask.path, ask.body);
        const auto over_http = http(ask.method, ask.path, ask.body);
        ASSERT_TRUE(over_http);
        EXPECT_EQ(direct.status, ask.status) << direct.text();
        EXPECT_EQ(direct.status, over_http->status);
        if (ask.status != 405) {  // the 405 names the path as each front was asked it
            EXPECT_EQ(direct.text(), over_http->body);
        }
    }
}

TEST(ServeRouteLookup, PathsBelowTheApiRootWithTheirParameters) {
    struct Case {
        const char* method;
        const char* path;
        const char* found;  // the route's path; empty: none
        const char* address;
        const char* channel;
        const char* allow;
    };
    const Case cases[] = {
        {"GET", "/instruments/3/channels/2/flow", "/instruments/{address}/channels/{channel}/flow",
         "3", "2", ""},
        {"PUT", "/instruments/03/channels/12/setpoint",
         "/instruments/{address}/channels/{channel}/setpoint", "03", "12", ""},
        {"GET", "/instruments/1/onoff", "/instruments/{address}/onoff", "1", "", ""},
        {"DELETE", "/instruments/1/channels/1/setpoint", "", "", "", "GET, PUT"},
        {"GET", "/instruments/1/integration", "", "", "", "POST"},
        {"GET", "/instruments/1234567890/version", "", "", "", ""},
        {"GET", "/instruments/-1/version", "", "", "", ""},
        {"GET", "/instruments//version", "", "", "", ""},
        {"GET", "/instruments/1/version/", "", "", "", ""},
        {"GET", "/instruments/1", "", "", "", ""},
        {"GET", "/api/v1/instruments/1/version", "", "", "", ""},
        {"GET", "", "", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.path);
        const RouteLookup lookup = find_route(c.method, c.path);
        if (!*c.found) {
            EXPECT_EQ(lookup.route, nullptr);
            EXPECT_EQ(lookup.allow, c.allow);
            continue;
        }
        ASSERT_NE(lookup.route, nullptr);
        EXPECT_EQ(lookup.route->path, c.found);
        EXPECT_EQ(lookup.params.address, c.address);
        EXPECT_EQ(lookup.params.channel, c.channel);
        // The HTTP router matches the same paths by the route's pattern.
        EXPECT_TRUE(std::regex_match(c.path, std::regex(path_pattern(*lookup.route))));
    }
}

TEST_F(ServeRouteTable, EachRouteTellsTheCacheWhatItFound) {
    using Change = std::function<void(sim::InstrumentState&)>;
    struct Effect {
        std::string method, path, body;
        Change instrument;  // what changes on the instrument first
        std::function<bool()> told;
    };
    const auto setpoint = [&](int channel) { return cache.channels()[{1, channel}].setpoint; };
    const Effect effects[] = {
        {"PUT",
         "/instruments/1/channels/2/setpoint",
         R"({"setpoint":40.5})",
         {},
         [&] { return setpoint(2) == 40.5f; }},
        {"GET", "/instruments/1/channels/3/setpoint", "",
         [](sim::InstrumentState& s) { s.channels[2].setpoint = 12.0f; },
         [&] { return setpoint(3) == 12.0f; }},
        {"GET", "/instruments/1/status", "",
         [](sim::InstrumentState& s) { s.channels[7].setpoint = 8.5f; },
         [&] { return setpoint(8) == 8.5f; }},
        {"GET",
         "/instruments/1/channels/4/flow",
         "",
         {},
         [&] {
             const auto reading = cache.channels()[{1, 4}].reading;
             return reading && reading->flow == 0.0f && !reading->time.empty();
         }},
        {"PUT",
         "/instruments/1/onoff",
         R"({"state":5})",
         {},
         [&] { return cache.on_offs()[1] == 5; }},
        {"GET", "/instruments/1/onoff", "", [](sim::InstrumentState& s) { s.on_off = 7; },
         [&] { return cache.on_offs()[1] == 7; }},
        {"GET",
         "/instruments/1/version",
         "",
         {},
         [&] { return instruments.version(1) && instruments.version(1)->info1 == 8; }},
    };
    for (const Effect& e : effects) {
        SCOPED_TRACE(e.method + " " + e.path);
        if (e.instrument) sim.update(1, e.instrument);
        ASSERT_FALSE(e.told()) << "known before the route ran";
        ASSERT_EQ(run(e.method, e.path, e.body).status, 200);
        EXPECT_TRUE(e.told());
    }
}

TEST_F(ServeRouteTable, AStatusCountsEachOfItsExchanges) {
    const auto ok_before = exchanges("ok");
    ASSERT_EQ(run("GET", "/instruments/1/status", "").status, 200);
    EXPECT_EQ(exchanges("ok"), ok_before + 8 * 4) << "flow, setpoint, maximum flow and unit";

    // The maximum flow of channel 1 goes unanswered: two readings passed, the third failed.
    sim::FaultRule rule;
    rule.kind = sim::FaultKind::no_reply;
    rule.code = 0x5;
    rule.count = 1;
    sim.add_fault(rule);
    const Answer failed = run("GET", "/instruments/1/status", "");
    EXPECT_EQ(failed.status, 504) << failed.text();
    EXPECT_EQ(exchanges("ok"), ok_before + 8 * 4 + 2);
    EXPECT_EQ(exchanges("no_reply"), 1U);
}

}  // namespace
}  // namespace qk42rt::server
