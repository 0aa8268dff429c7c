// `qk42rt serve --config` as a user runs it: a refused file or command line ends the program
// at once with exit status 2 and one message, before it listens or opens a line.
#include <gtest/gtest.h>

#include <string>

#include "config_files.h"
#include "support/child_process.h"

namespace qk42rt::testing {
namespace {

const std::string kClient = QK42RT_CLIENT_PATH;

TEST(ServeConfigProcess, ABadFileExitsTwoNamingFileLineAndKey) {
    ConfigFolder folder;
    const std::string file = folder.write("gateway.toml",
                                          "[[line]]\n"
                                          "name = \"bench\"\n"
                                          "device = \"/dev/null\"\n"
                                          "\n"
                                          "[[line]]\n"
                                          "name = \"be nch\"\n"
                                          "device = \"tcp://127.0.0.1:9\"\n");
    const Finished done = run_client(kClient, {"serve", "--config", file});
    EXPECT_EQ(done.exit_code, 2);
    EXPECT_EQ(done.out, "");
    EXPECT_EQ(done.err, "qk42rt serve: " + file +
                            ":6: line[2].name: \"be nch\" is not a name (letters, digits, - and "
                            "_)\n");
}

TEST(ServeConfigProcess, ConfigWithDeviceIsAUsageError) {
    ConfigFolder folder;
    const std::string file = folder.write("gateway.toml", "[[line]]\ndevice = \"/dev/null\"\n");
    const Finished done = run_client(kClient, {"--device", "/dev/null", "serve", "--config", file});
    EXPECT_EQ(done.exit_code, 2);
    EXPECT_EQ(done.out, "");
    EXPECT_EQ(done.err,
              "qk42rt: --device does not go with --config: the configuration file holds it "
              "([[line]] device)\nTry 'qk42rt --help'.\n");
}

TEST(ServeConfigProcess, PlainMqttBeyondLoopbackIsRefusedBeforeAnythingOpens) {
    const Finished done =
        run_client(kClient, {"--device", "/dev/null", "serve", "--mqtt", "mqtt://192.0.2.1"});
    EXPECT_EQ(done.exit_code, 2);
    EXPECT_EQ(done.out, "");
    EXPECT_TRUE(done.err.starts_with("qk42rt serve: --mqtt: plain mqtt:// to 192.0.2.1 "))
        << done.err;
}

}  // namespace
}  // namespace qk42rt::testing
