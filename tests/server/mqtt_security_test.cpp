// The gateway's way to the broker made safe: TLS against a certificate authority made here
// with openssl, logins and an access list in mosquitto's own configuration, and plain MQTT
// beyond this machine refused before anything opens.
#include <gtest/gtest.h>

#include <chrono>

#include "config_files.h"
#include "gateway.h"
#include "support/ser2net.h"

namespace qk42rt::testing {
namespace {

const std::string kOpenssl = "/usr/bin/openssl";
const std::string kMosquittoPasswd = "/usr/bin/mosquitto_passwd";

void run(const std::string& program, const std::vector<std::string>& args) {
    const Finished done = run_client(program, args);
    ASSERT_EQ(done.exit_code, 0) << program << " failed:\n" << done.err;
}

// A certificate authority (DIR/NAME.pem, DIR/NAME.key) of its own.
void make_authority(const std::string& dir, const std::string& name) {
    run(kOpenssl,
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", dir + "/" + name + ".key", "-out", dir + "/" + name + ".pem", "-days", "2",
         "-subj", "/CN=QK42 test authority " + name});
}

// The broker's key and certificate (DIR/broker.key, DIR/broker.pem), signed by `authority`,
// for localhost and 127.0.0.1.
void make_broker_certificate(const ConfigFolder& folder, const std::string& authority) {
    const std::string& dir = folder.path();
    run(kOpenssl,
        {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
         dir + "/broker.key", "-out", dir + "/broker.csr", "-subj", "/CN=localhost"});
    const std::string extensions =
        folder.write("broker.ext", "subjectAltName = DNS:localhost, IP:127.0.0.1\n");
    run(kOpenssl,
        {"x509", "-req", "-in", dir + "/broker.csr", "-CA", dir + "/" + authority + ".pem",
         "-CAkey", dir + "/" + authority + ".key", "-CAcreateserial", "-days", "2", "-extfile",
         extensions, "-out", dir + "/broker.pem"});
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

bool online(const MqttMessage& m) {
    return m.payload == "online";
}

TEST(MqttTls, TheRightAuthorityIsAcceptedAnotherIsRefusedAndTheGatewayServesOn) {
    ConfigFolder folder;
    const std::string& dir = folder.path();
    ASSERT_NO_FATAL_FAILURE(make_authority(dir, "ca"));
    ASSERT_NO_FATAL_FAILURE(make_authority(dir, "other"));
    ASSERT_NO_FATAL_FAILURE(make_broker_certificate(folder, "ca"));
    const std::uint16_t tls_port = free_loopback_port();
    GatewayOptions options;
    options.broker_config = "listener " + std::to_string(tls_port) + " 127.0.0.1\n" + "cafile " +
                            dir + "/ca.pem\ncertfile " + dir + "/broker.pem\nkeyfile " + dir +
                            "/broker.key\n";
    options.broker_url = "mqtts://localhost:" + std::to_string(tls_port);
    options.extra_args = {"--mqtt-ca-file", dir + "/ca.pem"};
    Gateway gateway(options);
    gateway.wait_started();
    EXPECT_NE(gateway.broker.log().find("on port " + std::to_string(tls_port)), std::string::npos);

    // A client that checks the certificate too sees the same topics over TLS.
    MqttPeer::Login tls;
    tls.ca_file = dir + "/ca.pem";
    MqttPeer encrypted(tls_port, tls);
    encrypted.subscribe(kBase + "/#");
    EXPECT_TRUE(encrypted.wait_for(kBase + "/status", 10'000, online));
    EXPECT_TRUE(encrypted.wait_for(kBase + "/line1/1/1/flow", 10'000));
    ASSERT_EQ(gateway.served->stop().exit_code, 0);

    // Another authority: the broker's certificate is refused, said so, and the gateway serves
    // HTTP on.
    gateway.peer->forget();
    gateway.options.extra_args = {"--mqtt-ca-file", dir + "/other.pem"};
    gateway.start_server();
    ASSERT_TRUE(eventually(
        [&] { return gateway.served->stderr_so_far().find("MQTT:") != std::string::npos; }, 10'000))
        << "no word of the refusal\n"
        << gateway.served->stderr_so_far();
    const std::string log = gateway.served->stderr_so_far();
    EXPECT_NE(log.find("certificate verify failed"), std::string::npos) << log;
    // And tried again: the broker's certificate may be mended meanwhile.
    const auto handshakes = [&] { return occurrences(gateway.broker.log(), "unknown ca"); };
    EXPECT_TRUE(eventually([&] { return handshakes() >= 2; }, 10'000)) << gateway.broker.log();
    EXPECT_EQ(gateway.http("GET", "/api/v1/instruments/1/version").first, 200);
    EXPECT_FALSE(gateway.peer->wait_for(kBase + "/status", 0, online))
        << "connected with a certificate it should refuse";
    EXPECT_EQ(gateway.served->stop().exit_code, 0);
}

TEST(MqttLogin, TheRightLoginWorksADeniedTopicIsLoggedAWrongPasswordIsRetried) {
    ConfigFolder folder;
    const std::string& dir = folder.path();
    const std::string passwords = dir + "/passwords";
    ASSERT_NO_FATAL_FAILURE(run(kMosquittoPasswd, {"-b", "-c", passwords, "gateway", "r1ght"}));
    ASSERT_NO_FATAL_FAILURE(run(kMosquittoPasswd, {"-b", passwords, "watcher", "l00k"}));
    // The gateway may use its own topics and answer below test/replies; Home Assistant's
    // topics are not its to write.
    const std::string acl = folder.write("acl",
                                         "user gateway\n"
                                         "topic readwrite " +
                                             kBase +
                                             "/#\n"
                                             "topic write test/replies/#\n\n"
                                             "user watcher\n"
                                             "topic readwrite #\n");
    GatewayOptions options;
    options.broker_config =
        "allow_anonymous false\npassword_file " + passwords + "\nacl_file " + acl + "\n";
    options.peer_login = {"watcher", "l00k", ""};
    options.extra_args = {"--mqtt-username", "gateway", "--mqtt-password-file",
                          folder.write("gateway-password", "r1ght\n"), "--mqtt-discovery"};
    Gateway gateway(options);
    gateway.wait_started();
    const json answer =
        gateway.request(R"({"method":"GET","path":"/instruments/1/version"})", "login");
    EXPECT_EQ(answer.value("status", 0), 200) << answer;
    ASSERT_TRUE(eventually(
        [&] {
            return gateway.served->stderr_so_far().find("refused a publish") != std::string::npos;
        },
        10'000))
        << gateway.served->stderr_so_far();
    std::string log = gateway.served->stderr_so_far();
    EXPECT_NE(log.find("homeassistant/"), std::string::npos) << "names the topic\n" << log;
    EXPECT_NE(log.find("authori"), std::string::npos) << log;
    gateway.peer->publish(kBase + "/line1/1/2/setpoint/set", "4.5");
    EXPECT_TRUE(gateway.peer->wait_for(
        kBase + "/line1/1/2/setpoint", 10'000,
        [](const MqttMessage& m) { return m.payload == R"({"setpoint":4.5})"; }))
        << "serves on after the refusal";
    ASSERT_EQ(gateway.served->stop().exit_code, 0);

    // A wrong password: refused, said so once, tried again with back-off; HTTP serves on.
    const auto refusals = [&] { return occurrences(gateway.broker.log(), "not authorised"); };
    const std::size_t before = refusals();
    gateway.peer->forget();
    gateway.options.extra_args = {"--mqtt-username", "gateway", "--mqtt-password-file",
                                  folder.write("wrong-password", "wr0ng\n")};
    gateway.start_server();
    EXPECT_TRUE(eventually([&] { return refusals() >= before + 2; }, 15'000))
        << "tried once only\n"
        << gateway.broker.log();
    log = gateway.served->stderr_so_far();
    EXPECT_NE(log.find("refused the connection"), std::string::npos) << log;
    EXPECT_EQ(gateway.http("GET", "/healthz").first, 200);
    EXPECT_FALSE(gateway.peer->wait_for(kBase + "/status", 0, online));
    EXPECT_EQ(gateway.served->stop().exit_code, 0);
}

TEST(MqttSecurity, PlainMqttBeyondThisMachineIsRefusedAtStartWithNothingSent) {
    sim::Simulator sim(test_sim_options());
    const auto started = std::chrono::steady_clock::now();
    const Finished done =
        run_client(kClientProgram, {"--device", sim.slave_path(), "serve", "--listen",
                                    "127.0.0.1:0", "--mqtt", "mqtt://192.0.2.1:1883"});
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(done.exit_code, 2) << done.err;
    EXPECT_NE(done.err.find("plain mqtt:// to 192.0.2.1"), std::string::npos) << done.err;
    EXPECT_NE(done.err.find("--mqtt-insecure"), std::string::npos) << done.err;
    EXPECT_EQ(done.out.find("listening"), std::string::npos) << done.out;
    EXPECT_EQ(sim.counters().opens, 0u) << "the line was opened";
    EXPECT_EQ(sim.counters().requests, 0u);
    // Refused before any connection: no wait for a broker that is not there.
    EXPECT_LT(took, std::chrono::seconds(10));
}

}  // namespace
}  // namespace qk42rt::testing
