// Lines that the simulator hangs up, served over HTTP and MQTT: the line's status says so at
// once, requests answer 503, commands publish an error, and the line comes back without a
// restart; with two lines in one process (`serve --config`), the other serves on throughout.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "config_files.h"
#include "gateway.h"

namespace qk42rt::testing {
namespace {

namespace op = protocol::op;

// The device the server opens: a link the test points at the simulator's pseudo-terminal, or
// at nothing, so that the line stays down after a hang-up until the test says otherwise.
void point(const std::string& link, const std::string& target) {
    const std::string fresh = link + ".new";
    std::filesystem::remove(fresh);
    std::filesystem::create_symlink(target, fresh);
    std::filesystem::rename(fresh, link);  // at once: the server never sees no link at all
}

// Hangs the line up at the next flow reading, the link pointing at nothing meanwhile.
void hang_up(sim::Simulator& sim, const std::string& link, const std::string& nowhere) {
    point(link, nowhere);
    sim::FaultRule rule;
    rule.kind = sim::FaultKind::hang_up;
    rule.code = static_cast<std::uint8_t>(protocol::command_of(op::ReadFlow{}).code);
    rule.count = 1;
    sim.add_fault(rule);
}

bool line_up(const MqttMessage& m) {
    return m.payload == R"({"up":true})";
}

bool line_down(const MqttMessage& m) {
    const json status = parse_json(m.payload);
    return status.is_object() && status.value("up", true) == false && status.size() == 2;
}

TEST(GatewayLine, HungUpItIsDownAnswers503AndComesBackWithoutARestart) {
    ConfigFolder folder;
    const std::string link = folder.path() + "/line";
    GatewayOptions options;
    options.device = link;
    options.before_start = [&](sim::Simulator& sim) { point(link, sim.slave_path()); };
    Gateway gateway(options);
    gateway.wait_started();
    MqttPeer& peer = *gateway.peer;
    const std::string status = kBase + "/line1/status";
    const std::string flow = "/api/v1/instruments/1/channels/1/flow";
    ASSERT_TRUE(peer.wait_for(status, 10'000, line_up));

    peer.forget();
    hang_up(gateway.sim, link, folder.path() + "/nowhere");
    const auto down = peer.wait_for(status, 10'000, line_down);
    ASSERT_TRUE(down) << gateway.served->stderr_so_far();
    const std::string reason = parse_json(down->payload).value("reason", "");
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(reason.find('\n'), std::string::npos) << "one line: " << reason;

    const auto [http_status, http_body] = gateway.http("GET", flow);
    EXPECT_EQ(http_status, 503) << http_body;
    EXPECT_EQ(http_body.value("reason", ""), "line_closed");
    EXPECT_EQ(gateway.http("GET", "/healthz").second, json::parse(R"({"line_up":false})"));
    const json answer =
        gateway.request(R"({"method":"GET","path":"/instruments/1/channels/1/flow"})", "down");
    EXPECT_EQ(answer.value("status", 0), 503) << answer;
    EXPECT_EQ(answer["body"].value("reason", ""), "line_closed") << answer;
    peer.publish(kBase + "/line1/1/2/setpoint/set", "20");
    const json error = payload_json(peer.wait_for(kBase + "/line1/1/error", 10'000));
    EXPECT_EQ(error.value("reason", ""), "line_closed") << error;
    for (const auto& m : peer.received(kBase + "/line1/1/2/setpoint")) {
        EXPECT_EQ(m.payload, R"({"setpoint":0.0})") << "the state stays as it was";
    }

    // The device is back (where the hang-up moved it): the line reopens by itself.
    peer.forget();
    point(link, gateway.sim.slave_path());
    EXPECT_TRUE(peer.wait_for(status, 10'000, line_up)) << gateway.served->stderr_so_far();
    EXPECT_TRUE(peer.wait_for(kBase + "/line1/1/1/flow", 10'000)) << "flows resume";
    EXPECT_EQ(gateway.http("GET", flow).first, 200);
    EXPECT_EQ(gateway.request(R"({"method":"GET","path":"/instruments/1/channels/1/flow"})", "up")
                  .value("status", 0),
              200);
    const Finished stopped = gateway.served->stop();
    EXPECT_EQ(stopped.exit_code, 0) << stopped.err;
}

TEST(GatewayLines, TwoLinesInOneProcessOneHungUpTheOtherServesOn) {
    ConfigFolder folder;
    Requests bench_requests;
    sim::Options bench_options = test_sim_options({1});
    bench_options.transcript = bench_requests.sink();
    sim::Simulator bench(bench_options);
    sim::Simulator rig(test_sim_options({2}));
    const std::string rig_link = folder.path() + "/rig";
    point(rig_link, rig.slave_path());
    Broker broker;
    MqttPeer peer(broker.port());
    peer.subscribe(kBase + "/#");
    peer.subscribe("test/replies/#");
    const std::string config =
        folder.write("gateway.toml",
                     "[http]\nlisten = \"127.0.0.1:0\"\n\n"
                     "[mqtt]\nbroker = \"" +
                         broker.url() + "\"\nbase = \"" + kBase +
                         "\"\n\n"
                         "[[line]]\nname = \"bench\"\ndevice = \"" +
                         bench.slave_path() +
                         "\"\naddresses = [1]\npoll_interval_ms = 100\n\n"
                         "[[line]]\nname = \"rig\"\ndevice = \"" +
                         rig_link + "\"\naddresses = [2]\npoll_interval_ms = 100\n");
    Served served(CommandLine{{"serve", "--config", config}});
    httplib::Client http = served.client();
    const auto get = [&](const std::string& path) {
        const auto result = http.Get(path);
        return std::pair<int, json>{result ? result->status : -1,
                                    result ? parse_json(result->body) : json()};
    };
    for (const char* line : {"bench", "rig"}) {
        ASSERT_TRUE(peer.wait_for(kBase + "/" + line + "/status", 10'000, line_up))
            << served.stderr_so_far();
    }
    ASSERT_TRUE(peer.wait_for(kBase + "/rig/2/8/flow", 10'000));
    EXPECT_EQ(get("/api/v1/lines").second,
              json::parse(R"([{"name":"bench","device":")" + bench.slave_path() +
                          R"(","up":true,"instruments":[1]},{"name":"rig","device":")" + rig_link +
                          R"(","up":true,"instruments":[2]}])"));

    peer.forget();
    hang_up(rig, rig_link, folder.path() + "/nowhere");
    ASSERT_TRUE(peer.wait_for(kBase + "/rig/status", 10'000, line_down)) << served.stderr_so_far();

    // The rig is down, over HTTP and MQTT alike.
    EXPECT_EQ(get("/api/v1/lines/rig/instruments/2/channels/1/flow").first, 503);
    EXPECT_EQ(get("/api/v1/lines").second[1].value("up", true), false);
    EXPECT_EQ(
        mqtt_request(peer, "rig", R"({"method":"GET","path":"/instruments/2/version"})", "rig-1")
            .value("status", 0),
        503);

    // The bench serves on: polled, read, written.
    peer.forget();
    EXPECT_TRUE(peer.wait_for(kBase + "/bench/1/1/flow", 10'000)) << "the bench is still polled";
    EXPECT_EQ(get("/api/v1/lines/bench/instruments/1/channels/1/flow").first, 200);
    EXPECT_EQ(get("/api/v1/instruments/1/version").first, 200) << "the first line's own routes";
    const json version =
        mqtt_request(peer, "bench", R"({"method":"GET","path":"/instruments/1/version"})", "b-1");
    EXPECT_EQ(version.value("status", 0), 200) << version;
    const std::size_t mark = bench_requests.mark();
    peer.publish(kBase + "/bench/1/3/setpoint/set", "17.5");
    EXPECT_TRUE(peer.wait_for(kBase + "/bench/1/3/setpoint", 10'000, [](const MqttMessage& m) {
        return m.payload == R"({"setpoint":17.5})";
    }));
    EXPECT_EQ(bench.state(1).channels[2].setpoint, 17.5f);
    const auto sent = bench_requests.since(mark);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), encoded({1, op::SetSetpoint{3, 17.5f}})), 1);
    EXPECT_EQ(rig.state(2).channels[2].setpoint, 0.0f) << "nothing reached the other line";

    // The rig comes back on its own.
    point(rig_link, rig.slave_path());
    EXPECT_TRUE(peer.wait_for(kBase + "/rig/status", 10'000, line_up)) << served.stderr_so_far();
    EXPECT_TRUE(peer.wait_for(kBase + "/rig/2/1/flow", 10'000));
    EXPECT_EQ(get("/api/v1/lines/rig/instruments/2/channels/1/flow").first, 200);
    const Finished stopped = served.stop();
    EXPECT_EQ(stopped.exit_code, 0) << stopped.err;
}

}  // namespace
}  // namespace qk42rt::testing
