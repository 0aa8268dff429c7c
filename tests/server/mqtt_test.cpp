// The MQTT face of `qk42rt serve` against a real mosquitto and the simulator: every state topic
// and its payload, the last will, commands byte-exact on the line or refused with the reason,
// the HTTP API over MQTT with each error from its cause, duplicates run once, the broker
// restarted, commands that must never run, and Home Assistant's discovery.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "gateway.h"

namespace qk42rt::testing {
namespace {

namespace op = protocol::op;

const std::string kLine = kBase + "/line1";

std::uint8_t code_of(const protocol::Operation& operation) {
    return static_cast<std::uint8_t>(protocol::command_of(operation).code);
}

sim::FaultRule once(sim::FaultKind kind, std::uint8_t code) {
    sim::FaultRule rule;
    rule.kind = kind;
    rule.code = code;
    rule.count = 1;
    return rule;
}

// Instruments at 1 and 3 with settings of their own, so that no topic carries a default.
void lab_bench(sim::Simulator& sim) {
    sim.update(1, [](sim::InstrumentState& s) {
        s.on_off = 0x03;  // channels 1 and 2 open: their flows follow their setpoints
        s.channels[0].setpoint = 43.67f;
        s.channels[1].setpoint = 40.0f;
        s.channels[5].status = 0x0B;  // channel 6 flags its flow invalid
    });
    sim.update(3, [](sim::InstrumentState& s) {
        s.on_off = 0x80;
        s.channels[7].setpoint = 12.5f;
        s.kind = 'M';
    });
}

// The gateway in front of lab_bench(), polling every 100 ms.
GatewayOptions lab_gateway(std::vector<std::string> extra = {}) {
    GatewayOptions options;
    options.addresses = {1, 3};
    options.extra_args = std::move(extra);
    options.before_start = lab_bench;
    return options;
}

// One instrument at 1 on a quiet line: the first poll cycle only.
GatewayOptions quiet_gateway(std::vector<std::string> extra) {
    GatewayOptions options;
    options.poll_interval_ms = 3'600'000;
    options.extra_args = std::move(extra);
    options.before_start = [](sim::Simulator& sim) {
        sim.update(1, [](sim::InstrumentState& s) {
            s.channels[1].setpoint = 10.0f;
            s.on_off = 0x01;
        });
    };
    return options;
}

bool is_utc_millis(const json& time) {
    static const std::regex format(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    return time.is_string() && std::regex_match(time.get<std::string>(), format);
}

// The state topics of instruments 1 and 3 as lab_bench() leaves them, the flows without their
// time.
struct Expected {
    std::string topic;
    std::string payload;
};
const Expected kLabBench[] = {
    {kBase + "/status", "online"},
    {kLine + "/status", R"({"up":true})"},
    {kLine + "/1/info", R"({"address":1,"version":"1.2","kind":"C","info1":8,"info2":1})"},
    {kLine + "/3/info", R"({"address":3,"version":"1.2","kind":"M","info1":8,"info2":1})"},
    {kLine + "/1/1/flow", R"({"flow":43.67,"status":0})"},
    {kLine + "/1/2/flow", R"({"flow":40.0,"status":0})"},
    {kLine + "/1/3/flow", R"({"flow":0.0,"status":0})"},
    {kLine + "/1/6/flow", R"({"flow":null,"status":3})"},
    {kLine + "/3/8/flow", R"({"flow":12.5,"status":0})"},
    {kLine + "/1/1/setpoint", R"({"setpoint":43.67})"},
    {kLine + "/1/2/setpoint", R"({"setpoint":40.0})"},
    {kLine + "/1/3/setpoint", R"({"setpoint":0.0})"},
    {kLine + "/3/8/setpoint", R"({"setpoint":12.5})"},
    {kLine + "/1/onoff", R"({"state":3})"},
    {kLine + "/3/onoff", R"({"state":128})"},
};

// The payload as the table writes it: a flow's time checked and left out.
std::string comparable(const std::string& topic, const std::string& payload) {
    if (!topic.ends_with("/flow")) return payload;
    json value = parse_json(payload);
    if (!value.is_object() || !is_utc_millis(value["time"])) return "bad time: " + payload;
    if (!payload.starts_with(R"({"time":)")) return "time not first: " + payload;
    value.erase("time");
    return value.dump();
}

void expect_lab_bench(MqttPeer& peer, bool retained) {
    for (const Expected& e : kLabBench) {
        SCOPED_TRACE(e.topic);
        const auto message = peer.wait_for(e.topic, 10'000, [&](const MqttMessage& m) {
            return comparable(m.topic, m.payload) == e.payload;
        });
        ASSERT_TRUE(message) << "last seen: "
                             << (peer.received(e.topic).empty()
                                     ? "nothing"
                                     : peer.received(e.topic).back().payload);
        if (retained) {
            EXPECT_TRUE(message->retained);
        }
    }
}

TEST(MqttState, EveryTopicCarriesItsPayloadAndALateSubscriberSeesItRetained) {
    Gateway gateway(lab_gateway());
    gateway.wait_started();
    expect_lab_bench(*gateway.peer, false);
    for (const auto& m : gateway.peer->received(kLine + "/1/2/flow")) {
        EXPECT_EQ(parse_json(m.payload).size(), 3u) << m.payload;
    }
    EXPECT_TRUE(gateway.peer->received(kLine + "/2/info").empty()) << "address 2 is not served";

    MqttPeer late(gateway.broker.port());
    late.subscribe(kBase + "/#");
    expect_lab_bench(late, true);
}

TEST(MqttState, FlowAndSettingTopicsFollowTheInstrument) {
    Gateway gateway(lab_gateway());
    gateway.wait_started();
    MqttPeer& peer = *gateway.peer;
    ASSERT_TRUE(peer.wait_for(kLine + "/1/2/flow"));
    // Changed at the instrument's own panel: the next polls find it.
    gateway.sim.update(1, [](sim::InstrumentState& s) {
        s.channels[1].setpoint = 21.25f;
        s.on_off = 0x07;
        s.channels[5].status = 0x01;
    });
    const auto payload_is = [](const std::string& text) {
        return [text](const MqttMessage& m) { return comparable(m.topic, m.payload) == text; };
    };
    EXPECT_TRUE(
        peer.wait_for(kLine + "/1/2/flow", 10'000, payload_is(R"({"flow":21.25,"status":0})")));
    EXPECT_TRUE(
        peer.wait_for(kLine + "/1/6/flow", 10'000, payload_is(R"({"flow":0.0,"status":1})")));
    EXPECT_TRUE(
        peer.wait_for(kLine + "/1/2/setpoint", 10'000, payload_is(R"({"setpoint":21.25})")));
    EXPECT_TRUE(peer.wait_for(kLine + "/1/onoff", 10'000, payload_is(R"({"state":7})")));

    // Every poll publishes each flow again, with the time of its reading.
    const auto times = [&] {
        std::set<std::string> distinct;
        for (const auto& m : peer.received(kLine + "/3/8/flow")) {
            distinct.insert(parse_json(m.payload).value("time", ""));
        }
        return distinct.size();
    };
    const std::size_t seen = times();
    EXPECT_TRUE(eventually([&] { return times() >= seen + 3; }, 10'000));
}

TEST(MqttState, KilledTheBrokerSaysOfflineStoppedTheGatewaySaysItAndExitsZero) {
    Gateway gateway;
    gateway.wait_started();
    MqttPeer& peer = *gateway.peer;
    const auto offline = [](const MqttMessage& m) { return m.payload == "offline"; };

    const Finished killed = gateway.served->kill();
    EXPECT_EQ(killed.exit_code, -1);
    const auto will = peer.wait_for(kBase + "/status", 10'000, offline);
    ASSERT_TRUE(will) << gateway.broker.log();
    EXPECT_NE(gateway.broker.log().find("closed its connection"), std::string::npos)
        << "the broker saw it vanish\n"
        << gateway.broker.log();

    MqttPeer late(gateway.broker.port());
    late.subscribe(kBase + "/status");
    const auto retained = late.wait_for(kBase + "/status");
    ASSERT_TRUE(retained);
    EXPECT_EQ(retained->payload, "offline");
    EXPECT_TRUE(retained->retained);

    // Started again: online; then a clean stop says offline itself, disconnecting cleanly
    // (the broker sends no will then).
    peer.forget();
    gateway.start_server();
    ASSERT_TRUE(peer.wait_for(kBase + "/status", 10'000,
                              [](const MqttMessage& m) { return m.payload == "online"; }));
    peer.forget();
    const Finished stopped = gateway.served->stop();
    EXPECT_EQ(stopped.exit_code, 0) << stopped.err;
    EXPECT_TRUE(peer.wait_for(kBase + "/status", 10'000, offline)) << stopped.err;
    // Disconnected cleanly: the broker says so (on some versions with a wrong reason), where it
    // said "closed its connection" for the process killed.
    EXPECT_TRUE(eventually([&] {
        return gateway.broker.log().find(" disconnected") != std::string::npos;
    })) << gateway.broker.log();
    const std::string log = gateway.broker.log();
    EXPECT_EQ(log.find("closed its connection"), log.rfind("closed its connection")) << log;
}

// A gateway on a quiet line (no polling after the first cycle), so that the simulator's
// record holds only what the test's commands and requests send.
class MqttQuietLine : public ::testing::Test {
  protected:
    explicit MqttQuietLine(std::vector<std::string> extra = {})
        : gateway(quiet_gateway(std::move(extra))) {}

    void SetUp() override {
        gateway.wait_started();
        ASSERT_EQ(gateway.sim.counters().requests, start_requests(1));
        // The first cycle's setpoint and on/off state are on their topics.
        ASSERT_TRUE(gateway.peer->wait_for(kLine + "/1/2/setpoint"));
        ASSERT_TRUE(gateway.peer->wait_for(kLine + "/1/onoff"));
    }

    // Publishes a command and waits for its outcome: a new value on the state topic, or the
    // error topic. A copy of the value before, late from the start, is no outcome.
    std::optional<MqttMessage> command(const std::string& topic, const std::string& payload,
                                       const std::string& state_topic) {
        gateway.peer->forget();
        gateway.peer->publish(topic, payload);
        std::optional<MqttMessage> outcome;
        const std::string before = confirmed_[state_topic];
        const auto changed = [&](const MqttMessage& m) { return m.payload != before; };
        eventually(
            [&] {
                for (const std::string& t : {state_topic, kLine + "/1/error", kLine + "/2/error"}) {
                    if (auto m = gateway.peer->wait_for(t, 0, changed)) {
                        outcome = m;
                        return true;
                    }
                }
                return false;
            },
            10'000);
        if (outcome && outcome->topic == state_topic) confirmed_[state_topic] = outcome->payload;
        return outcome;
    }

    // A request's answer on the same line's queue: whatever the commands before it published
    // has reached the subscriber by then.
    void round_trip() {
        const json answer = gateway.request(R"({"method":"GET","path":"/instruments/1/version"})",
                                            "barrier-" + std::to_string(++barriers_));
        ASSERT_EQ(answer.value("status", 0), 200) << answer;
    }

    Gateway gateway;
    int barriers_ = 0;
    // The state topics' payloads as the instrument last confirmed them.
    std::map<std::string, std::string> confirmed_{{kLine + "/1/2/setpoint", R"({"setpoint":10.0})"},
                                                  {kLine + "/1/onoff", R"({"state":1})"}};
};

TEST_F(MqttQuietLine, ASetpointCommandSendsExactlyTheLibrarysRequestAndTheStateFollows) {
    struct Case {
        std::string payload;
        float written;
        std::string state;
    };
    const Case cases[] = {
        {"40", 40.0f, R"({"setpoint":40.0})"},
        {"40.5", 40.5f, R"({"setpoint":40.5})"},
        {R"({"setpoint":41})", 41.0f, R"({"setpoint":41.0})"},
        {"-0.25", -0.25f, R"({"setpoint":-0.25})"},
        {"1e-3", 0.001f, R"({"setpoint":0.001})"},
    };
    const std::string state = kLine + "/1/2/setpoint";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        const std::size_t mark = gateway.requests.mark();
        const auto outcome = command(state + "/set", c.payload, state);
        ASSERT_TRUE(outcome) << gateway.served->stderr_so_far();
        EXPECT_EQ(outcome->topic, state) << outcome->payload;
        EXPECT_EQ(outcome->payload, c.state);
        EXPECT_EQ(gateway.requests.since(mark),
                  std::vector<std::string>{encoded({1, op::SetSetpoint{2, c.written}})});
        EXPECT_EQ(gateway.sim.state(1).channels[1].setpoint, c.written);
    }
    // The same write over HTTP puts the same bytes on the line.
    const std::size_t mark = gateway.requests.mark();
    EXPECT_EQ(gateway.http("PUT", "/api/v1/instruments/1/channels/2/setpoint", R"({"setpoint":40})")
                  .first,
              200);
    EXPECT_EQ(gateway.requests.since(mark),
              std::vector<std::string>{encoded({1, op::SetSetpoint{2, 40.0f}})});
}

TEST_F(MqttQuietLine, AnOnOffCommandSendsExactlyTheLibrarysRequestAndTheStateFollows) {
    struct Case {
        std::string payload;
        int state;
    };
    const Case cases[] = {{"15", 15}, {R"({"state":255})", 255}, {"0", 0}, {R"({"state":1})", 1}};
    const std::string state = kLine + "/1/onoff";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        const std::size_t mark = gateway.requests.mark();
        const auto outcome = command(state + "/set", c.payload, state);
        ASSERT_TRUE(outcome) << gateway.served->stderr_so_far();
        EXPECT_EQ(outcome->topic, state) << outcome->payload;
        EXPECT_EQ(outcome->payload, R"({"state":)" + std::to_string(c.state) + "}");
        EXPECT_EQ(gateway.requests.since(mark),
                  std::vector<std::string>{encoded({1, op::SetOnOff{c.state}})});
        EXPECT_EQ(gateway.sim.state(1).on_off, c.state);
    }
}

TEST_F(MqttQuietLine, ARefusedCommandSaysWhyOnTheErrorTopicAndLeavesTheStateAlone) {
    const std::string setpoint = kLine + "/1/2/setpoint";
    const std::string onoff = kLine + "/1/onoff";
    const std::uint8_t set_setpoint = code_of(op::SetSetpoint{});
    struct Case {
        std::string topic;
        std::string payload;
        std::optional<sim::FaultKind> fault;
        std::string reason;
        std::string says;
        std::size_t sent;  // requests that reach the line
    };
    const Case cases[] = {
        {setpoint + "/set", "30", sim::FaultKind::wrong_ack, "wrong_ack", "acknowledge", 1},
        {setpoint + "/set", "31", sim::FaultKind::no_reply, "no_reply", "reply", 1},
        {onoff + "/set", "12", sim::FaultKind::no_reply, "no_reply", "reply", 1},
        {setpoint + "/set", "1e39", std::nullopt, "bad_argument", "a float holds", 0},
        {setpoint + "/set", R"({"setpoint":"40"})", std::nullopt, "bad_argument", "number", 0},
        {setpoint + "/set", "forty", std::nullopt, "bad_argument", "neither a number", 0},
        {setpoint + "/set", R"({"setpoint":40,"extra":1})", std::nullopt, "bad_argument",
         "neither a number", 0},
        {onoff + "/set", "256", std::nullopt, "bad_argument", "0 to 255", 0},
        {onoff + "/set", "-1", std::nullopt, "bad_argument", "0 to 255", 0},
        {onoff + "/set", "2.5", std::nullopt, "bad_argument", "whole number", 0},
        {onoff + "/set", "", std::nullopt, "bad_argument", "neither a whole number", 0},
        {kLine + "/1/9/setpoint/set", "40", std::nullopt, "not_found", "channel 9", 0},
        {kLine + "/2/onoff/set", "1", std::nullopt, "not_found", "address 2", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.topic + " " + c.payload);
        if (c.fault) {
            gateway.sim.add_fault(once(
                *c.fault, c.topic.ends_with("onoff/set") ? code_of(op::SetOnOff{}) : set_setpoint));
        }
        const std::size_t mark = gateway.requests.mark();
        const sim::InstrumentState before = gateway.sim.state(1);
        const std::string state = c.topic.substr(0, c.topic.size() - 4);
        const auto outcome = command(c.topic, c.payload, state);
        ASSERT_TRUE(outcome) << gateway.served->stderr_so_far();
        const std::string address = c.topic.substr(kLine.size() + 1, 1);
        ASSERT_EQ(outcome->topic, kLine + "/" + address + "/error") << outcome->payload;
        EXPECT_FALSE(outcome->retained);
        const json error = parse_json(outcome->payload);
        EXPECT_EQ(error.value("topic", ""), c.topic) << outcome->payload;
        EXPECT_EQ(error.value("reason", ""), c.reason) << outcome->payload;
        EXPECT_NE(error.value("error", "").find(c.says), std::string::npos) << outcome->payload;
        EXPECT_EQ(error.size(), 3u) << outcome->payload;
        EXPECT_EQ(gateway.requests.since(mark).size(), c.sent);
        if (c.sent == 0) {
            EXPECT_EQ(gateway.sim.state(1).channels[1].setpoint, before.channels[1].setpoint);
            EXPECT_EQ(gateway.sim.state(1).on_off, before.on_off);
        }
        round_trip();
        for (const auto& m : gateway.peer->received(state)) {
            EXPECT_EQ(m.payload, state == onoff ? R"({"state":1})" : R"({"setpoint":10.0})")
                << "the state topic stays as it was";
        }
    }
    // The retained state is what the instrument last confirmed.
    MqttPeer late(gateway.broker.port());
    late.subscribe(setpoint);
    late.subscribe(onoff);
    EXPECT_EQ(payload_json(late.wait_for(setpoint)), json::parse(R"({"setpoint":10.0})"));
    EXPECT_EQ(payload_json(late.wait_for(onoff)), json::parse(R"({"state":1})"));
}

class MqttReadOnly : public MqttQuietLine {
  protected:
    MqttReadOnly() : MqttQuietLine({"--read-only"}) {}
};

TEST_F(MqttReadOnly, NoWriteReachesTheInstrumentFromMqtt) {
    const std::size_t mark = gateway.requests.mark();
    const std::string setpoint = kLine + "/1/2/setpoint";
    for (const auto& [topic, payload] :
         {std::pair<std::string, std::string>{setpoint + "/set", "5"},
          {kLine + "/1/onoff/set", "7"}}) {
        SCOPED_TRACE(topic);
        const auto outcome = command(topic, payload, topic.substr(0, topic.size() - 4));
        ASSERT_TRUE(outcome);
        ASSERT_EQ(outcome->topic, kLine + "/1/error");
        const json error = parse_json(outcome->payload);
        EXPECT_EQ(error.value("reason", ""), "read_only");
        EXPECT_EQ(error.value("topic", ""), topic);
    }
    const json write = gateway.request(
        R"({"method":"PUT","path":"/instruments/1/keylock","body":{"locked":true}})", "w1");
    EXPECT_EQ(write.value("status", 0), 403) << write;
    EXPECT_EQ(write["body"],
              gateway.http("PUT", "/api/v1/instruments/1/keylock", R"({"locked":true})").second);
    const json read = gateway.request(R"({"method":"GET","path":"/instruments/1/onoff"})", "r1");
    EXPECT_EQ(read, json::parse(R"({"status":200,"body":{"state":1}})"));
    EXPECT_EQ(gateway.requests.since(mark), std::vector<std::string>{encoded({1, op::ReadOnOff{}})})
        << "the read alone";
    EXPECT_EQ(gateway.sim.state(1).channels[1].setpoint, 10.0f);
    EXPECT_FALSE(gateway.sim.state(1).key_locked);
}

TEST_F(MqttQuietLine, RequestsAnswerExactlyAsHttpDoesWithCorrelationOrReplyTo) {
    struct Case {
        std::string request;  // without reply_to and id
        int status;
        std::string reason;
        std::string method, path, body;  // the same over HTTP, below /api/v1/lines/line1
    };
    const std::string ch2 = "/instruments/1/channels/2";
    const Case cases[] = {
        {R"({"method":"GET","path":"/instruments/1/version"})", 200, "", "GET",
         "/instruments/1/version", ""},
        {R"({"method":"PUT","path":"/instruments/1/channels/2/setpoint","body":{"setpoint":40}})",
         200, "", "PUT", ch2 + "/setpoint", R"({"setpoint":40})"},
        {R"({"method":"GET","path":"/instruments/1/channels/2/setpoint"})", 200, "", "GET",
         ch2 + "/setpoint", ""},
        {R"({"method":"GET","path":"/instruments"})", 200, "", "GET", "/instruments", ""},
        {R"({"method":"GET","path":"/nothing"})", 404, "not_found", "GET", "/nothing", ""},
        {R"({"method":"GET","path":"/instruments/2/version"})", 404, "not_found", "GET",
         "/instruments/2/version", ""},
        {R"({"method":"GET","path":"/instruments/1/channels/9/flow"})", 404, "not_found", "GET",
         "/instruments/1/channels/9/flow", ""},
        {R"({"method":"POST","path":"/instruments","body":{}})", 405, "method_not_allowed", "POST",
         "/instruments", "{}"},
        {R"({"method":"PUT","path":"/instruments/1/channels/2/flow","body":{}})", 405,
         "method_not_allowed", "PUT", ch2 + "/flow", "{}"},
        {R"({"method":"PUT","path":"/instruments/1/channels/2/setpoint","body":{"setpoint":"x"}})",
         400, "bad_argument", "PUT", ch2 + "/setpoint", R"({"setpoint":"x"})"},
        {R"({"method":"PUT","path":"/instruments/1/onoff","body":{"state":256}})", 400,
         "bad_argument", "PUT", "/instruments/1/onoff", R"({"state":256})"},
        {R"({"method":"PUT","path":"/instruments/1/channels/2/setpoint"})", 400, "bad_argument",
         "PUT", ch2 + "/setpoint", ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        const auto [http_status, http_body] =
            gateway.http(c.method, "/api/v1/lines/line1" + c.path, c.body);
        ASSERT_EQ(http_status, c.status) << http_body;
        // MQTT 5: the Response Topic and the Correlation Data.
        const json answer = gateway.request(c.request, "corr-" + std::to_string(++n));
        ASSERT_TRUE(answer.is_object()) << "no answer";
        EXPECT_EQ(answer.value("status", 0), c.status) << answer;
        EXPECT_EQ(answer["body"], http_body);
        EXPECT_FALSE(answer.contains("id"));
        if (c.status != 200) {
            EXPECT_EQ(answer["body"].value("reason", ""), c.reason);
        }
        // MQTT 3.1.1: reply_to and id in the request.
        json request = json::parse(c.request);
        request["reply_to"] = "test/replies/plain";
        request["id"] = "id-" + std::to_string(n);
        gateway.peer->publish(kLine + "/request", request.dump());
        const json plain = payload_json(
            gateway.peer->wait_for("test/replies/plain", 10'000, [&](const MqttMessage& m) {
                return parse_json(m.payload).value("id", "") == "id-" + std::to_string(n);
            }));
        EXPECT_EQ(plain.value("status", 0), c.status) << plain;
        EXPECT_EQ(plain["body"], http_body);
        EXPECT_EQ(plain.size(), 3u) << plain;
    }
}

TEST_F(MqttQuietLine, MalformedRequestsAnswer400WhereTheyHaveAReplyAddress) {
    const char* requests[] = {
        "not json",
        "",
        "[1,2]",
        "{}",
        R"({"path":"/instruments"})",
        R"({"method":"GET"})",
        R"({"method":"GET","path":7})",
        R"({"method":1,"path":"/instruments"})",
        R"({"method":"GET","path":"instruments"})",
        "\xff\xfe{",
    };
    const std::size_t mark = gateway.requests.mark();
    int n = 0;
    for (const char* text : requests) {
        SCOPED_TRACE(text);
        const json answer = gateway.request(text, "bad-" + std::to_string(++n));
        ASSERT_TRUE(answer.is_object()) << "no answer";
        EXPECT_EQ(answer.value("status", 0), 400) << answer;
        EXPECT_EQ(answer["body"].value("reason", ""), "bad_request") << answer;
    }
    // With reply_to but no method: answered there, with the id.
    gateway.peer->publish(kLine + "/request",
                          R"({"path":"/instruments","reply_to":"test/replies/x","id":42})");
    const json answer = payload_json(gateway.peer->wait_for("test/replies/x", 10'000));
    EXPECT_EQ(answer.value("status", 0), 400) << answer;
    EXPECT_EQ(answer.value("id", 0), 42) << answer;
    EXPECT_TRUE(gateway.requests.since(mark).empty());
}

TEST_F(MqttQuietLine, FailedExchangesAnswer504And502AndUnknownLinesAnswer404) {
    const std::uint8_t read_flow = code_of(op::ReadFlow{});
    const std::uint8_t set_setpoint = code_of(op::SetSetpoint{});
    struct Case {
        sim::FaultKind kind;
        std::uint8_t code;
        std::string request;
        int status;
        std::string reason;
    };
    const Case cases[] = {
        {sim::FaultKind::no_reply, read_flow,
         R"({"method":"GET","path":"/instruments/1/channels/1/flow"})", 504, "no_reply"},
        {sim::FaultKind::wrong_ack, set_setpoint,
         R"({"method":"PUT","path":"/instruments/1/channels/1/setpoint","body":{"setpoint":3}})",
         502, "wrong_ack"},
        {sim::FaultKind::short_reply, read_flow,
         R"({"method":"GET","path":"/instruments/1/channels/1/flow"})", 502, "short_reply"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        gateway.sim.add_fault(once(c.kind, c.code));
        const json answer = gateway.request(c.request, "fault-" + std::to_string(++n));
        EXPECT_EQ(answer.value("status", 0), c.status) << answer;
        EXPECT_EQ(answer["body"].value("reason", ""), c.reason) << answer;
    }
    // A line this gateway does not serve: the route table's 404, as HTTP gives it.
    gateway.peer->publish(kBase + "/elsewhere/request", R"({"method":"GET","path":"/instruments"})",
                          false, "test/replies/elsewhere", "e1");
    const json answer = payload_json(gateway.peer->wait_for("test/replies/elsewhere", 10'000));
    EXPECT_EQ(answer.value("status", 0), 404) << answer;
    EXPECT_EQ(answer["body"], gateway.http("GET", "/api/v1/lines/elsewhere/instruments").second);
}

TEST_F(MqttQuietLine, ADuplicatedRequestRunsOnceAndIsAnsweredTwiceTheSame) {
    const std::string read = R"({"method":"GET","path":"/instruments/1/channels/1/flow"})";
    const std::uint64_t before = gateway.sim.counters().requests;
    // QoS 1 may deliver a request twice: both copies at once, as the broker would resend.
    for (int i = 0; i < 2; ++i) {
        gateway.peer->publish(kLine + "/request", read, false, "test/replies/dup", "same");
    }
    ASSERT_TRUE(
        eventually([&] { return gateway.peer->received("test/replies/dup").size() >= 2; }, 10'000));
    auto answers = gateway.peer->received("test/replies/dup");
    EXPECT_EQ(answers[0].payload, answers[1].payload);
    EXPECT_EQ(answers[1].correlation_data, "same");
    EXPECT_EQ(parse_json(answers[0].payload).value("status", 0), 200) << answers[0].payload;

    // The same by id, a write this time.
    const std::string write = R"({"method":"PUT","path":"/instruments/1/onoff","body":{"state":9},)"
                              R"("reply_to":"test/replies/dup-id","id":"w-1"})";
    gateway.peer->publish(kLine + "/request", write);
    ASSERT_TRUE(gateway.peer->wait_for("test/replies/dup-id", 10'000));
    gateway.peer->publish(kLine + "/request", write);
    ASSERT_TRUE(eventually(
        [&] { return gateway.peer->received("test/replies/dup-id").size() >= 2; }, 10'000));
    answers = gateway.peer->received("test/replies/dup-id");
    EXPECT_EQ(answers[0].payload, answers[1].payload);
    EXPECT_EQ(parse_json(answers[1].payload),
              json::parse(R"({"status":200,"body":{"state":9},"id":"w-1"})"));
    EXPECT_EQ(gateway.sim.counters().requests, before + 2) << "one exchange each";

    // Another correlation is another request.
    const json again = gateway.request(read, "other");
    EXPECT_EQ(again.value("status", 0), 200);
    EXPECT_EQ(gateway.sim.counters().requests, before + 3);
}

TEST_F(MqttQuietLine, CommandsSentWhileTheGatewayWasAwayOrRetainedNeverRun) {
    const std::string setpoint = kLine + "/1/2/setpoint";
    const std::string onoff = kLine + "/1/onoff";
    // A retained command published while the gateway listens: not run.
    gateway.peer->publish(onoff + "/set", "99", /*retain=*/true);
    round_trip();
    EXPECT_EQ(gateway.sim.state(1).on_off, 1) << "a retained command ran";

    // The gateway goes away; commands are published at QoS 1 meanwhile.
    gateway.served->kill();
    ASSERT_TRUE(gateway.peer->wait_for(
        kBase + "/status", 10'000, [](const MqttMessage& m) { return m.payload == "offline"; }));
    gateway.peer->publish(setpoint + "/set", "77");
    gateway.peer->publish(setpoint + "/set", "78", /*retain=*/true);
    gateway.peer->forget();
    const std::uint64_t before = gateway.sim.counters().requests;
    const std::size_t mark = gateway.requests.mark();
    gateway.start_server();
    ASSERT_TRUE(eventually(
        [&] { return gateway.sim.counters().requests >= before + start_requests(1); }, 10'000));
    ASSERT_TRUE(gateway.peer->wait_for(kBase + "/status", 10'000,
                                       [](const MqttMessage& m) { return m.payload == "online"; }));
    round_trip();
    for (const std::string& request : gateway.requests.since(mark)) {
        EXPECT_NE(request, encoded({1, op::SetSetpoint{2, 77.0f}}));
        EXPECT_NE(request, encoded({1, op::SetSetpoint{2, 78.0f}}));
    }
    EXPECT_EQ(gateway.sim.state(1).channels[1].setpoint, 10.0f);
    EXPECT_EQ(gateway.sim.state(1).on_off, 1);
    // And it still takes commands sent now.
    gateway.peer->publish(setpoint + "/set", "12");
    EXPECT_TRUE(gateway.peer->wait_for(setpoint, 10'000, [](const MqttMessage& m) {
        return m.payload == R"({"setpoint":12.0})";
    }));
}

TEST(MqttBroker, RestartedItGetsEverythingAgainAndTheGatewayServesOn) {
    Gateway gateway(lab_gateway());
    gateway.wait_started();
    ASSERT_TRUE(gateway.peer->wait_for(kLine + "/3/8/flow"));
    gateway.peer.reset();
    // Polling goes on while the broker is away; the broker keeps nothing (no persistence).
    gateway.broker.stop();
    const std::uint64_t polled = gateway.sim.counters().requests;
    EXPECT_TRUE(eventually([&] { return gateway.sim.counters().requests > polled + 16; }, 10'000));
    EXPECT_EQ(gateway.http("GET", "/healthz").first, 200);
    gateway.broker.start();
    MqttPeer peer(gateway.broker.port());
    peer.subscribe(kBase + "/#");
    expect_lab_bench(peer, false);
    const std::string log = gateway.served->stderr_so_far();
    EXPECT_NE(log.find("MQTT: connection lost"), std::string::npos) << log;

    peer.subscribe("test/replies/#");
    peer.publish(kLine + "/request", R"({"method":"GET","path":"/instruments/3/version"})", false,
                 "test/replies/after", "after");
    EXPECT_EQ(payload_json(peer.wait_for("test/replies/after", 10'000)).value("status", 0), 200);
    peer.publish(kLine + "/3/onoff/set", "255");
    EXPECT_TRUE(peer.wait_for(kLine + "/3/onoff", 10'000, [](const MqttMessage& m) {
        return m.payload == R"({"state":255})";
    }));
}

TEST(MqttDiscovery, ConfigsPointAtTopicsThatCarryTheValuesAndComeAgainWhenAsked) {
    Gateway gateway(lab_gateway({"--mqtt-discovery"}));
    gateway.wait_started();
    MqttPeer home(gateway.broker.port());
    home.subscribe("homeassistant/#");
    constexpr std::size_t kConfigs = 2 * 8 * 2;  // instruments x channels x (flow, setpoint)
    const auto received_configs = [&home] {
        std::map<std::string, MqttMessage> configs;
        for (const auto& m : home.received_below("homeassistant/")) {
            if (m.topic.ends_with("/config")) configs[m.topic] = m;
        }
        return configs;
    };
    std::map<std::string, MqttMessage> configs;
    ASSERT_TRUE(eventually(
        [&] {
            configs = received_configs();
            return configs.size() >= kConfigs;
        },
        10'000))
        << configs.size() << " configs";
    EXPECT_EQ(configs.size(), kConfigs);

    static const std::regex topic_form(
        R"(homeassistant/(sensor|number)/[A-Za-z0-9_-]+/[A-Za-z0-9_-]+/config)");
    std::set<std::string> unique_ids;
    std::set<std::string> devices;
    std::map<std::string, std::string> commands;  // command topic -> state topic
    for (const auto& [topic, message] : configs) {
        SCOPED_TRACE(topic);
        EXPECT_TRUE(std::regex_match(topic, topic_form));
        const json config = parse_json(message.payload);
        ASSERT_TRUE(config.is_object()) << message.payload;
        unique_ids.insert(config.value("unique_id", ""));
        EXPECT_EQ(config.value("availability_topic", ""), kBase + "/status");
        EXPECT_EQ(config["device"]["identifiers"].size(), 1u);
        devices.insert(config["device"]["identifiers"].dump());
        const std::string state = config.value("state_topic", "");
        const bool sensor = topic.starts_with("homeassistant/sensor/");
        const std::string value = sensor ? "flow" : "setpoint";
        EXPECT_TRUE(state.starts_with(kLine + "/")) << state;
        EXPECT_TRUE(state.ends_with("/" + value)) << state;
        EXPECT_NE(config.value("value_template", "").find("value_json." + value),
                  std::string::npos);
        // The state topic carries the value the template reads.
        const auto carried = gateway.peer->wait_for(state, 10'000);
        ASSERT_TRUE(carried) << "nothing on " << state;
        EXPECT_TRUE(parse_json(carried->payload).contains(value)) << carried->payload;
        if (!sensor) {
            EXPECT_EQ(config.value("command_topic", ""), state + "/set");
            commands[config.value("command_topic", "")] = state;
        }
    }
    EXPECT_EQ(unique_ids.size(), kConfigs) << "every unique_id its own";
    EXPECT_EQ(devices.size(), 2u) << "one device per instrument";
    EXPECT_EQ(commands.size(), 16u);
    // Retained, for a Home Assistant that starts later.
    MqttPeer later(gateway.broker.port());
    later.subscribe("homeassistant/+/+/+/config");
    EXPECT_TRUE(eventually(
        [&] { return later.received_below("homeassistant/").size() >= kConfigs; }, 10'000));
    for (const auto& m : later.received_below("homeassistant/")) {
        EXPECT_TRUE(m.retained) << m.topic;
    }

    // Home Assistant sets a setpoint through the number's command topic.
    const std::string command = kLine + "/3/4/setpoint/set";
    ASSERT_EQ(commands.count(command), 1u);
    gateway.peer->publish(command, "33.5");
    EXPECT_TRUE(gateway.peer->wait_for(commands[command], 10'000, [](const MqttMessage& m) {
        return m.payload == R"({"setpoint":33.5})";
    }));
    EXPECT_EQ(gateway.sim.state(3).channels[3].setpoint, 33.5f);

    // Home Assistant restarted: it says so, and gets every configuration again.
    home.forget();
    gateway.peer->publish("homeassistant/status", "online");
    EXPECT_TRUE(eventually([&] { return received_configs().size() >= kConfigs; }, 10'000));
    EXPECT_EQ(received_configs().size(), kConfigs);
}

}  // namespace
}  // namespace qk42rt::testing
