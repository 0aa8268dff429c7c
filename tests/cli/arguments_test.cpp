// The client's command lines: what it accepts, and what it refuses before opening any line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli.h"
#include "port/open_port.h"

namespace qk42rt::cli {
namespace {

using Words = std::vector<std::string>;

struct Refused {
    Words argv;
    std::string message;  // part of the usage error
};

class RefusedLine : public ::testing::TestWithParam<Refused> {};

TEST_P(RefusedLine, IsAUsageErrorNamingTheProblem) {
    try {
        make_plan(GetParam().argv);
        FAIL() << "accepted";
    } catch (const UsageError& error) {
        EXPECT_NE(std::string(error.what()).find(GetParam().message), std::string::npos)
            << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, RefusedLine,
    ::testing::Values(
        Refused{{}, "no command"}, Refused{{"--device", "/x"}, "no command"},
        Refused{{"--device", "/x", "fly", "1"}, "unknown command 'fly'"},
        Refused{{"flow", "1"}, "--device PATH or --port N"},
        Refused{{"--device", "/x", "--port", "1", "flow", "1"}, "not both"},
        Refused{{"--device"}, "--device needs a value"},
        Refused{{"--device=", "flow", "1"}, "needs a path"},
        Refused{{"--device", "/x", "--address", "0", "flow", "1"}, "--address must be 1 to 8"},
        Refused{{"--device", "/x", "--address", "9", "flow", "1"}, "--address must be 1 to 8"},
        Refused{{"--port", "0", "flow", "1"}, "--port must be"},
        Refused{{"--device", "/x", "flow", "0"}, "channel must be 1 to 8, not '0'"},
        Refused{{"--device", "/x", "flow", "9"}, "channel must be 1 to 8"},
        Refused{{"--device", "/x", "flow", "1.5"}, "whole number"},
        Refused{{"--device", "/x", "flow"}, "wrong number of arguments"},
        Refused{{"--device", "/x", "flow", "1", "2"}, "wrong number of arguments"},
        Refused{{"--device", "/x", "unit", "1", "5"}, "unit must be 1 to 4"},
        Refused{{"--device", "/x", "unit", "1", "0"}, "unit must be 1 to 4"},
        Refused{{"--device", "/x", "setpoint", "1", "nan"}, "finite number"},
        Refused{{"--device", "/x", "setpoint", "1", "1e39"}, "finite number"},
        Refused{{"--device", "/x", "setpoint", "1", "12,5"}, "finite number"},
        Refused{{"--device", "/x", "maxflow", "1", "100", "5"}, "code must be 0 to 4"},
        Refused{{"--device", "/x", "onoff", "256"}, "on/off state must be 0 to 255"},
        Refused{{"--device", "/x", "onoff", "-1"}, "on/off state must be 0 to 255"},
        Refused{{"--device", "/x", "integration", "128"}, "0 to 127"},
        Refused{{"--device", "/x", "integration", "begin"}, "whole number"},
        Refused{{"--device", "/x", "ratio-total", "1", "2"}, "CH VALUE CH2 CH3"},
        Refused{{"--device", "/x", "ratio-total", "1", "256", "1", "1"}, "value must be 0 to 255"},
        Refused{{"--device", "/x", "ratio-total", "1", "0", "9", "1"}, "channel2 must be 1 to 8"},
        Refused{{"--device", "/x", "ratio-mode", "3"}, "mode must be 0 to 2"},
        Refused{{"--device", "/x", "keylock", "maybe"}, "on or off"},
        Refused{{"--device", "/x", "display", "on"}, "wrong number of arguments"},
        Refused{{"--device", "/x", "monitor", "1", "--count", "0"}, "--count must be"},
        Refused{{"--device", "/x", "monitor", "--interval", "-5"}, "--interval must be"},
        Refused{{"--device", "/x", "monitor", "12"}, "channel must be 1 to 8"},
        Refused{{"--device", "/x", "flow", "1", "--count", "3"}, "belong to the monitor"},
        Refused{{"--device", "/x", "--verbose", "flow", "1"}, "unknown option '--verbose'"},
        Refused{{"--json=yes", "--device", "/x", "flow", "1"}, "takes no value"},
        // serve: a configuration file holds the lines, HTTP and MQTT; MQTT's options need --mqtt.
        Refused{{"serve", "--config", "g.toml", "--device", "/x"},
                "--device does not go with --config: the configuration file holds it ([[line]] "
                "device)"},
        Refused{{"--port", "1", "serve", "--config", "g.toml"}, "--port does not go with"},
        Refused{{"--address", "2", "serve", "--config", "g.toml"}, "--address does not go with"},
        Refused{{"serve", "--config", "g.toml", "--listen", "127.0.0.1:1"}, "([http] listen)"},
        Refused{{"serve", "--config", "g.toml", "--name", "a"}, "([[line]] name)"},
        Refused{{"serve", "--config", "g.toml", "--mqtt", "mqtt://localhost"}, "([mqtt] broker)"},
        Refused{{"serve", "--config", "g.toml", "--mqtt-insecure"}, "--mqtt-insecure does not go"},
        Refused{{"serve", "--config="}, "--config needs a file"},
        Refused{{"--device", "/x", "serve", "--mqtt-base", "a/b"}, "--mqtt-base needs --mqtt URL"},
        Refused{{"--device", "/x", "serve", "--mqtt-discovery"},
                "--mqtt-discovery needs --mqtt URL"},
        Refused{{"--device", "/x", "serve", "--mqtt", "mqtts://b", "--mqtt-base="},
                "--mqtt-base needs a topic"},
        Refused{{"--device", "/x", "serve", "--mqtt", "tcp://b:1883"}, "--mqtt: bad broker"},
        Refused{{"--device", "/x", "serve", "--name", "be nch"},
                "--name must be letters, digits, - and _, not 'be nch'"},
        Refused{{"--device", "/x", "flow", "1", "--mqtt", "mqtt://localhost"},
                "belong to the serve command"},
        Refused{{"--device", "/x", "flow", "1", "--listen", "127.0.0.1:1"},
                "--listen, --token-file, --read-only and --poll-interval belong to the serve "
                "command"}));

struct Accepted {
    Words argv;
    std::string command;
    std::string device;
    int address;
};

class AcceptedLine : public ::testing::TestWithParam<Accepted> {};

TEST_P(AcceptedLine, IsPlannedForTheChosenLineAndAddress) {
    const Plan plan = make_plan(GetParam().argv);
    ASSERT_NE(plan.subcommand, nullptr);
    EXPECT_EQ(plan.subcommand->name, GetParam().command);
    EXPECT_EQ(plan.device, GetParam().device);
    EXPECT_EQ(plan.line.address, GetParam().address);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, AcceptedLine,
    ::testing::Values(
        Accepted{{"--device", "/dev/pts/7", "flow", "8"}, "flow", "/dev/pts/7", 1},
        // Options after the subcommand, and in the --name=value form.
        Accepted{{"flow", "2", "--device=/d", "--address=8", "--json"}, "flow", "/d", 8},
        Accepted{{"--port", "3", "version"}, "version", device_for_port(3), 1},
        // A negative value is a word, not an option.
        Accepted{{"--device", "/d", "setpoint", "1", "-1.5"}, "setpoint", "/d", 1},
        Accepted{{"--device", "/d", "--", "setpoint", "1", "-2"}, "setpoint", "/d", 1},
        Accepted{{"--device", "/d", "maxflow", "1", "+100", "4"}, "maxflow", "/d", 1},
        Accepted{{"--device", "/d", "onoff", "0xFF"}, "onoff", "/d", 1},
        Accepted{{"--device", "/d", "integration", "reset"}, "integration", "/d", 1},
        Accepted{{"--device", "/d", "ratio-total", "2", "165", "3", "4"}, "ratio-total", "/d", 1},
        Accepted{{"--device", "/d", "display", "on", "0"}, "display", "/d", 1},
        Accepted{{"--device", "/d", "monitor", "1", "3", "--interval", "0", "--csv"},
                 "monitor",
                 "/d",
                 1},
        // The demo brings its own line.
        Accepted{{"demo"}, "demo", "", 1}));

TEST(Cli, HelpNeedsNoDeviceAndChecksNoWords) {
    EXPECT_EQ(make_plan({"--help"}).subcommand, nullptr);
    const Plan plan = make_plan({"setpoint", "99", "--help"});
    ASSERT_NE(plan.subcommand, nullptr);
    EXPECT_TRUE(plan.line.help);
}

TEST(Cli, MonitorOptionsArriveAsTyped) {
    const Plan plan = make_plan({"--device", "/d", "monitor", "--count=3", "--interval", "250"});
    EXPECT_EQ(plan.line.monitor.count, 3);
    EXPECT_EQ(plan.line.monitor.interval_ms, 250);
    EXPECT_FALSE(plan.line.monitor.csv);
}

TEST(Cli, ServeLineAndMqttOptionsArriveAsTyped) {
    const Plan plan =
        make_plan({"--device", "/d", "serve", "--name", "bench", "--mqtt", "mqtts://b:8884",
                   "--mqtt-base", "lab/3", "--mqtt-username", "gw", "--mqtt-discovery"});
    EXPECT_EQ(plan.line.serve.name, "bench");
    EXPECT_EQ(plan.line.serve.mqtt, "mqtts://b:8884");
    EXPECT_EQ(plan.line.serve.mqtt_base, "lab/3");
    EXPECT_EQ(plan.line.serve.mqtt_username, "gw");
    EXPECT_TRUE(plan.line.serve.mqtt_discovery);
    EXPECT_FALSE(plan.line.serve.mqtt_insecure);
    EXPECT_EQ(make_plan({"--device", "/d", "serve"}).line.serve.name, "line1");
}

}  // namespace
}  // namespace qk42rt::cli
