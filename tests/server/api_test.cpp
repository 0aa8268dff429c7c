// `qk42rt serve` against the simulator: every route, every error code from its cause, bodies
// malformed in many ways, tokens and read-only, and a line that goes away and comes back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "served.h"

namespace qk42rt::testing {
namespace {

using nlohmann::json;

json parse(const httplib::Result& result) {
    return result ? json::parse(result->body, nullptr, false) : json();
}

int status_of(const httplib::Result& result) {
    return result ? result->status : -1;
}

const std::string kJson = "application/json";

class ServeApi : public ::testing::Test {
  protected:
    // Two instruments at 1 and 3. No polling after the first cycle, so that the simulator's
    // counters see only the test's requests.
    ServeApi()
        : sim(test_sim_options({1, 3})),
          served(sim.slave_path(),
                 {"--address", "1", "--address", "3", "--poll-interval", "3600000"}),
          http(served.client()) {}

    // Waits until the server's start is over on the line: each address's version, then the
    // first poll, which reads the setpoints and the on/off state too. A quiet spell on the way
    // proves nothing: a busy machine can pause the server between any two exchanges.
    void SetUp() override {
        constexpr std::uint64_t kStartRequests = 2 * (1 + 8 + 8 + 1);
        ASSERT_TRUE(eventually([&] { return sim.counters().requests >= kStartRequests; }, 10'000))
            << sim.counters().requests << " requests";
        ASSERT_EQ(sim.counters().requests, kStartRequests);
    }

    sim::Simulator sim;
    Served served;
    httplib::Client http;
};

TEST_F(ServeApi, EveryRouteReachesTheInstrument) {
    const auto instruments = http.Get("/api/v1/instruments");
    ASSERT_EQ(status_of(instruments), 200);
    EXPECT_EQ(instruments->body, R"([{"address":1,"version":"1.2","kind":"C","info1":8,"info2":1},)"
                                 R"({"address":3,"version":"1.2","kind":"C","info1":8,"info2":1}])")
        << "keys in the documented order";
    const std::string ch2 = "/api/v1/instruments/1/channels/2";
    struct Write {
        std::string method, path, body, answer;
    };
    const Write writes[] = {
        {"PUT", ch2 + "/setpoint", R"({"setpoint":40})", R"({"setpoint":40.0})"},
        {"PUT", ch2 + "/maxflow", R"({"maxflow":100,"code":2})", R"({"maxflow":100.0,"code":2})"},
        {"PUT", ch2 + "/maxflow", R"({"maxflow":120.5})", R"({"maxflow":120.5,"code":0})"},
        {"PUT", ch2 + "/unit", R"({"unit":3})", R"({"unit":3})"},
        {"PUT", "/api/v1/instruments/1/onoff", R"({"state":15})", R"({"state":15})"},
        {"POST", "/api/v1/instruments/1/integration", R"({"control":"start"})", R"({"control":1})"},
        {"POST", "/api/v1/instruments/1/integration", R"({"control":"stop"})", R"({"control":2})"},
        {"POST", "/api/v1/instruments/1/integration", R"({"control":0})", R"({"control":0})"},
        {"PUT", "/api/v1/instruments/1/ratio-total",
         R"({"channel":2,"value":165,"channel2":3,"channel3":4})",
         R"({"channel":2,"value":165,"channel2":3,"channel3":4})"},
        {"PUT", "/api/v1/instruments/1/ratio-mode", R"({"mode":1})", R"({"mode":1})"},
        {"PUT", "/api/v1/instruments/1/display", R"({"flag1":true,"flag2":false})",
         R"({"flag1":true,"flag2":false})"},
        {"PUT", "/api/v1/instruments/1/keylock", R"({"locked":true})", R"({"locked":true})"},
    };
    for (const Write& w : writes) {
        SCOPED_TRACE(w.method + " " + w.path + " " + w.body);
        const auto result =
            w.method == "PUT" ? http.Put(w.path, w.body, kJson) : http.Post(w.path, w.body, kJson);
        ASSERT_EQ(status_of(result), 200) << (result ? result->body : "");
        EXPECT_EQ(parse(result), json::parse(w.answer));
    }
    const sim::InstrumentState state = sim.state(1);
    EXPECT_EQ(state.channels[1].setpoint, 40.0f);
    EXPECT_EQ(state.channels[1].maxflow, 120.5f);
    EXPECT_EQ(state.channels[1].unit_code, 2);
    EXPECT_EQ(state.on_off, 15);
    EXPECT_FALSE(state.integrating) << "started, then stopped";
    EXPECT_EQ(state.ratio_mode, 1);
    EXPECT_TRUE(state.display_flag1);
    EXPECT_TRUE(state.key_locked);
    EXPECT_EQ(sim.state(3).on_off, 0) << "address 3 untouched";

    struct Read {
        std::string path, answer;
    };
    sim.update(1, [](sim::InstrumentState& s) {
        s.inttime = 478;
        s.channels[1].intflow = 0x01020304;
        s.channels[5].status = 0x0B;  // the flow of channel 6 flagged invalid
    });
    const Read reads[] = {
        {ch2 + "/setpoint", R"({"setpoint":40.0,"status":0})"},
        {ch2 + "/maxflow", R"({"maxflow":120.5,"status":0})"},
        {ch2 + "/unit", R"({"unit":3})"},
        {ch2 + "/flow", R"({"channel":2,"flow":40.0,"status":0})"},
        {"/api/v1/instruments/1/channels/6/flow", R"({"channel":6,"flow":null,"status":3})"},
        {ch2 + "/intflow", R"({"bytes":"04030201","count":16909060})"},
        {"/api/v1/instruments/1/inttime", R"({"bytes":"DE010000","count":478})"},
        {"/api/v1/instruments/1/onoff", R"({"state":15})"},
        {"/api/v1/instruments/1/ratio-total",
         R"({"channel":2,"value":165,"channel2":3,"channel3":4})"},
        {"/api/v1/instruments/3/version",
         R"({"address":3,"version":"1.2","kind":"C","info1":8,"info2":1})"},
        {"/healthz", R"({"line_up":true})"},
    };
    for (const Read& r : reads) {
        SCOPED_TRACE(r.path);
        const auto result = http.Get(r.path);
        ASSERT_EQ(status_of(result), 200) << (result ? result->body : "");
        EXPECT_EQ(parse(result), json::parse(r.answer));
    }

    const json status = parse(http.Get("/api/v1/instruments/1/status"));
    ASSERT_EQ(status.size(), 8u);
    EXPECT_EQ(
        status[1],
        json::parse(
            R"({"channel":2,"flow":40.0,"setpoint":40.0,"maxflow":120.5,"unit":3,"status":0})"));
    EXPECT_EQ(status[5]["flow"], nullptr);

    const auto metrics = http.Get("/metrics");
    ASSERT_EQ(status_of(metrics), 200);
    for (const char* line :
         {"qk42_flow{line=\"line1\",address=\"1\",channel=\"2\"}", "qk42_line_up{line=\"line1\"} 1",
          "qk42_setpoint{line=\"line1\",address=\"1\",channel=\"2\"} 40",
          "qk42_exchanges_total{line=\"line1\",result=\"ok\"}",
          "qk42_exchange_duration_seconds_count{line=\"line1\"}"}) {
        EXPECT_NE(metrics->body.find(line), std::string::npos) << line << "\n" << metrics->body;
    }
    const auto page = http.Get("/");
    ASSERT_EQ(status_of(page), 200);
    EXPECT_NE(page->body.find("QK42 instruments"), std::string::npos);
    EXPECT_EQ(status_of(http.Get("/uplot.iife.min.js")), 200);
    EXPECT_EQ(status_of(http.Get("/app.js")), 200);
}

TEST(ServeStart, WithoutAddressesItServesThoseThatAnswer) {
    sim::Simulator sim(test_sim_options({2, 5}));
    Served served(sim.slave_path());
    const json list = parse(served.client().Get("/api/v1/instruments"));
    ASSERT_EQ(list.size(), 2u) << list;
    EXPECT_EQ(list[0]["address"], 2);
    EXPECT_EQ(list[1]["address"], 5);
    EXPECT_EQ(list[1]["version"], "1.2");
}

TEST_F(ServeApi, TheEventStreamCarriesPolledReadingsWithoutExchangesOfItsOwn) {
    std::string stream;
    const auto requests_before = sim.counters().requests;
    http.Get("/api/v1/events", [&](const char* data, std::size_t size) {
        stream.append(data, size);
        return stream.find("event: line") == std::string::npos;  // stop after the first event
    });
    EXPECT_NE(stream.find("event: line\ndata: {\"line\":\"line1\",\"up\":true,\"reason\":\"\"}"),
              std::string::npos)
        << stream;
    EXPECT_EQ(sim.counters().requests, requests_before);
}

struct Refusal {
    const char* method;
    std::string path;
    std::string body;
    int status;
    const char* reason;
    const char* says;
};

TEST_F(ServeApi, EveryErrorCodeFromItsCauseAndNothingSentOnA400) {
    const std::string ch1 = "/api/v1/instruments/1/channels/1";
    const Refusal cases[] = {
        {"GET", "/api/v1/nothing", "", 404, "not_found", "no such resource"},
        {"GET", "/api/v1/instruments/2/version", "", 404, "not_found", "address 2 is not served"},
        {"GET", "/api/v1/instruments/1/channels/9/flow", "", 404, "not_found", "channel 9"},
        {"GET", "/api/v1/instruments/99999999999/version", "", 404, "not_found",
         "no such resource"},
        {"POST", "/api/v1/instruments", "{}", 405, "method_not_allowed", "use GET"},
        {"PUT", ch1 + "/flow", "{}", 405, "method_not_allowed", "use GET"},
        {"DELETE", ch1 + "/setpoint", "", 405, "method_not_allowed", "use GET, PUT"},
        {"PUT", ch1 + "/setpoint", "forty", 400, "bad_argument", "not JSON"},
        {"PUT", ch1 + "/setpoint", "[40]", 400, "bad_argument", "must be a JSON object"},
        {"PUT", ch1 + "/setpoint", "{}", 400, "bad_argument", "\"setpoint\" is missing"},
        {"PUT", ch1 + "/setpoint", R"({"setpoint":"40"})", 400, "bad_argument", "must be a number"},
        {"PUT", ch1 + "/setpoint", R"({"setpoint":1e39})", 400, "bad_argument", "a float holds"},
        {"PUT", ch1 + "/maxflow", R"({"maxflow":1,"code":7})", 400, "bad_argument",
         "\"code\" must be 0 to 4"},
        {"PUT", ch1 + "/unit", R"({"unit":5})", 400, "bad_argument",
         "\"unit\" must be 1 to 4, not 5"},
        {"PUT", ch1 + "/unit", R"({"unit":2.5})", 400, "bad_argument", "whole number"},
        {"PUT", ch1 + "/unit", R"({"unit":true})", 400, "bad_argument", "whole number"},
        {"PUT", "/api/v1/instruments/1/onoff", R"({"state":256})", 400, "bad_argument", "0 to 255"},
        {"PUT", "/api/v1/instruments/1/onoff", R"({"state":-1})", 400, "bad_argument", "0 to 255"},
        {"PUT", "/api/v1/instruments/1/onoff", R"({"state":18446744073709551615})", 400,
         "bad_argument", "0 to 255"},
        {"POST", "/api/v1/instruments/1/integration", R"({"control":"go"})", 400, "bad_argument",
         "start, stop, reset"},
        {"POST", "/api/v1/instruments/1/integration", R"({"control":128})", 400, "bad_argument",
         "0 to 127"},
        {"PUT", "/api/v1/instruments/1/ratio-mode", R"({"mode":3})", 400, "bad_argument", "0 to 2"},
        {"PUT", "/api/v1/instruments/1/ratio-total",
         R"({"channel":1,"value":1,"channel2":9,"channel3":1})", 400, "bad_argument",
         "\"channel2\" must be 1 to 8"},
        {"PUT", "/api/v1/instruments/1/display", R"({"flag1":"yes","flag2":false})", 400,
         "bad_argument", "true or false"},
        {"PUT", "/api/v1/instruments/1/keylock", R"({"lock":true})", 400, "bad_argument",
         "\"locked\" is missing"},
        {"PUT", ch1 + "/setpoint", std::string(5000, ' '), 413, "too_large", "4 KiB"},
    };
    const auto requests_before = sim.counters().requests;
    for (const Refusal& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.path + " " + c.body.substr(0, 60));
        httplib::Request request;
        request.method = c.method;
        request.path = c.path;
        request.body = c.body;
        if (!c.body.empty()) request.set_header("Content-Type", kJson);
        const auto result = http.send(request);
        ASSERT_EQ(status_of(result), c.status) << (result ? result->body : "");
        const json body = parse(result);
        EXPECT_EQ(body["reason"], c.reason) << result->body;
        EXPECT_NE(body["error"].get<std::string>().find(c.says), std::string::npos) << result->body;
        if (c.status == 405) {
            EXPECT_FALSE(result->get_header_value("Allow").empty());
        }
    }
    EXPECT_EQ(sim.counters().requests, requests_before) << "no refused request reached the line";
}

TEST_F(ServeApi, FailedRepliesAnswer504Or502WithTheReason) {
    struct Fault {
        sim::FaultKind kind;
        std::uint8_t code;
        std::string method, path, body;
        int status;
        const char* reason;
    };
    const std::string ch1 = "/api/v1/instruments/1/channels/1";
    const Fault faults[] = {
        {sim::FaultKind::no_reply, 0x3, "GET", ch1 + "/flow", "", 504, "no_reply"},
        {sim::FaultKind::short_reply, 0x4, "GET", ch1 + "/setpoint", "", 502, "short_reply"},
        {sim::FaultKind::wrong_ack, 0xE, "PUT", ch1 + "/setpoint", R"({"setpoint":1})", 502,
         "wrong_ack"},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.reason);
        sim::FaultRule rule;
        rule.kind = f.kind;
        rule.code = f.code;
        rule.count = 1;
        sim.add_fault(rule);
        const auto result = f.method == "GET" ? http.Get(f.path) : http.Put(f.path, f.body, kJson);
        EXPECT_EQ(status_of(result), f.status);
        EXPECT_EQ(parse(result)["reason"], f.reason);
    }
    sim.update(1, [](sim::InstrumentState& s) { s.kind = 'X'; });
    const auto result = http.Get("/api/v1/instruments/1/version");
    EXPECT_EQ(status_of(result), 502);
    EXPECT_EQ(parse(result)["reason"], "bad_kind");
}

TEST_F(ServeApi, MalformedBodiesOfEveryShapeAreRefusedAndTheServerCarriesOn) {
    std::vector<std::string> bodies = {
        std::string(2000, '[') + std::string(2000, ']'),
        R"({"setpoint":)" + std::string(1000, '[') + "1" + std::string(1000, ']') + "}",
        R"({"setpoint":1e400})",
        R"({"setpoint":-1e400})",
        R"({"setpoint":123456789012345678901234567890123456789012345678901234567890})",
        R"({"setpoint":null})",
        R"({"setpoint":{}})",
        R"({"setpoint":[]})",
        R"({"setpoint":NaN})",
        R"({"setpoint":Infinity})",
        "{\"setpoint\":\"\xff\xfe\"}",
        R"({"setpoint":1,)",
        "",
        "\0\0\0",
    };
    std::mt19937 random(7);
    for (int i = 0; i < 40; ++i) {
        std::string noise(1 + random() % 600, '\0');
        for (char& c : noise) c = static_cast<char>(random());
        bodies.push_back(noise);
    }
    for (const std::string& body : bodies) {
        const auto result = http.Put("/api/v1/instruments/1/channels/1/setpoint", body, kJson);
        ASSERT_EQ(status_of(result), 400) << body.substr(0, 80);
        EXPECT_EQ(parse(result)["reason"], "bad_argument");
    }
    EXPECT_EQ(status_of(http.Get("/api/v1/instruments/1/channels/1/setpoint")), 200);
}

// A token file as an operator would write it.
std::string token_file(const std::string& name, mode_t mode) {
    const std::string path = ::testing::TempDir() + name + std::to_string(getpid());
    std::ofstream(path) << "s3cret-token\n";
    chmod(path.c_str(), mode);
    return path;
}

TEST(ServeAccess, WritesNeedTheTokenReadsOnLoopbackDoNot) {
    sim::Simulator sim(test_sim_options());
    const std::string token = token_file("qk42-token-", 0600);
    Served served(sim.slave_path(), {"--address", "1", "--token-file", token});
    httplib::Client http = served.client();
    const std::string path = "/api/v1/instruments/1/channels/1/setpoint";
    const auto without = http.Put(path, R"({"setpoint":5})", kJson);
    EXPECT_EQ(status_of(without), 401);
    EXPECT_EQ(without->get_header_value("WWW-Authenticate"), "Bearer");
    EXPECT_EQ(parse(without)["reason"], "unauthorized");
    httplib::Headers wrong{{"Authorization", "Bearer s3cret-tokeN"}};
    EXPECT_EQ(status_of(http.Put(path, wrong, R"({"setpoint":5})", kJson)), 401);
    httplib::Headers longer{{"Authorization", "Bearer s3cret-token2"}};
    EXPECT_EQ(status_of(http.Put(path, longer, R"({"setpoint":5})", kJson)), 401);
    httplib::Headers right{{"Authorization", "Bearer s3cret-token"}};
    EXPECT_EQ(status_of(http.Put(path, right, R"({"setpoint":5})", kJson)), 200);
    EXPECT_EQ(sim.state(1).channels[0].setpoint, 5.0f);
    EXPECT_EQ(status_of(http.Get(path)), 200) << "reads on loopback need no token";
    std::remove(token.c_str());
}

TEST(ServeAccess, AReadOnlyServerLetsNoWriteThrough) {
    sim::Simulator sim(test_sim_options());
    Served served(sim.slave_path(), {"--address", "1", "--read-only"});
    httplib::Client http = served.client();
    const auto result = http.Put("/api/v1/instruments/1/keylock", R"({"locked":true})", kJson);
    EXPECT_EQ(status_of(result), 403);
    EXPECT_EQ(parse(result)["reason"], "forbidden");
    EXPECT_FALSE(sim.state(1).key_locked);
    EXPECT_EQ(status_of(http.Get("/api/v1/instruments/1/onoff")), 200);
}

TEST(ServeAccess, UnsafeStartsAreRefusedBeforeListening) {
    const std::string open_token = token_file("qk42-open-token-", 0644);
    struct Start {
        std::vector<std::string> args;
        const char* says;
    };
    const Start starts[] = {
        {{"--device", "/dev/null", "serve", "--listen", "0.0.0.0:0"},
         "reaches beyond this machine"},
        {{"--device", "/dev/null", "serve", "--token-file", open_token}, "must not be readable"},
        {{"--device", "/dev/null", "serve", "--token-file", "/nonexistent/token"}, "cannot read"},
        {{"--device", "/dev/null", "serve", "--listen", "127.0.0.1"}, "--listen"},
        {{"--device", "/dev/null", "flow", "1", "--read-only"}, "belong to the serve command"},
    };
    for (const Start& start : starts) {
        SCOPED_TRACE(start.says);
        const Finished done = run_client(kClientProgram, start.args);
        EXPECT_EQ(done.exit_code, 2) << done.err;
        EXPECT_NE(done.err.find(start.says), std::string::npos) << done.err;
        EXPECT_EQ(done.out.find("listening"), std::string::npos);
    }
    std::remove(open_token.c_str());
}

TEST(ServeLine, ALineThatGoesAwayAnswers503AndComesBackWithoutARestart) {
    auto sim = std::make_unique<sim::Simulator>(test_sim_options({1}, /*tcp=*/true));
    const std::string address = sim->tcp_address();
    Served served("tcp://" + address, {"--address", "1", "--poll-interval", "100"});
    httplib::Client http = served.client();
    const std::string flow = "/api/v1/instruments/1/channels/1/flow";
    ASSERT_EQ(status_of(http.Get(flow)), 200);

    std::string stream;
    std::thread listener([&] {
        served.client().Get("/api/v1/events", [&](const char* data, std::size_t size) {
            stream.append(data, size);
            return stream.find("\"up\":false") == std::string::npos;
        });
    });
    sim.reset();  // the device server goes away
    EXPECT_TRUE(eventually([&] { return status_of(http.Get(flow)) == 503; }));
    const auto down = http.Get(flow);
    EXPECT_EQ(parse(down)["reason"], "line_closed");
    EXPECT_EQ(parse(http.Get("/healthz")), json::parse(R"({"line_up":false})"));
    listener.join();
    EXPECT_NE(stream.find("event: line\ndata: {\"line\":\"line1\",\"up\":false,\"reason\":"),
              std::string::npos)
        << stream;
    EXPECT_NE(stream.find("\"up\":false"), std::string::npos) << stream;

    auto options = test_sim_options({1});
    options.pty = false;
    options.tcp_listen = address;  // the same port: the server's device string
    sim = std::make_unique<sim::Simulator>(options);
    EXPECT_TRUE(eventually([&] { return status_of(http.Get(flow)) == 200; }, 8000))
        << served.stderr_so_far();
    const Finished stopped = served.stop();
    EXPECT_EQ(stopped.exit_code, 0) << stopped.err;
}

}  // namespace
}  // namespace qk42rt::testing
