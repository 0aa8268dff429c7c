// An unchanged host, linked to libqk42rt.so only, run with libqk42rt-portmap.so preloaded
// (CTest sets LD_PRELOAD): its port numbers reach the simulator through QK42RT_PORT_MAP.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <qk42rt.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSimPort = 57;      // mapped to the simulator's link
constexpr int kMissingPort = 58;  // mapped to a path that does not exist
constexpr int kUnmappedPort = 59;

using Lookup = const char* (*)(int);

Lookup preloaded_lookup() {
    return reinterpret_cast<Lookup>(dlsym(RTLD_DEFAULT, "qk42rt_test_device_for_port"));
}

class Preload : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        char dir_template[] = "/tmp/qk42rt-portmap-XXXXXX";
        ASSERT_NE(mkdtemp(dir_template), nullptr);
        dir_ = dir_template;
        link_ = dir_ + "/tty";
        sim_ = std::make_unique<qk42rt::testing::ChildProcess>(
            QK42RT_SIM_PROGRAM, std::vector<std::string>{"--link", link_, "--time-constant", "0"});
        ASSERT_TRUE(sim_->wait_for_lines(1, 5000)) << "the simulator did not start";
        // Read once by the preload, at the first lookup: set before any port is opened.
        const std::string map = std::to_string(kSimPort) + "=" + link_ + "," +
                                std::to_string(kMissingPort) + "=" + dir_ + "/unplugged, junk";
        setenv("QK42RT_PORT_MAP", map.c_str(), 1);
    }
    static void TearDownTestSuite() {
        QK42RT_ClosePort();
        sim_.reset();
        fs::remove_all(dir_);
    }
    void SetUp() override {
        // Without the preload the library would name /dev/ttyS56: stop before any open.
        ASSERT_NE(preloaded_lookup(), nullptr) << "libqk42rt-portmap.so is not preloaded";
    }

    static inline std::string dir_;
    static inline std::string link_;
    static inline std::unique_ptr<qk42rt::testing::ChildProcess> sim_;
};

TEST_F(Preload, AnswersMappedPortsOnly) {
    auto lookup = preloaded_lookup();
    ASSERT_NE(lookup, nullptr);
    EXPECT_EQ(std::string(lookup(kSimPort)), link_);
    EXPECT_EQ(std::string(lookup(kMissingPort)), dir_ + "/unplugged");
    EXPECT_EQ(lookup(kUnmappedPort), nullptr);  // the library keeps /dev/ttyS{N-1}
    EXPECT_EQ(lookup(0), nullptr);
}

TEST_F(Preload, HostSessionReachesTheSimulator) {
    ASSERT_EQ(QK42RT_InitPort(kSimPort), 1);
    ASSERT_EQ(QK42RT_SetOnOff(1, 0xFF), 1);
    for (int channel = 1; channel <= 8; ++channel)
        ASSERT_EQ(QK42RT_SetSetpoint(1, channel, 10.0f * channel), 1);
    for (int channel = 1; channel <= 8; ++channel) {
        float flow = -2.0f;
        int status = -1;
        ASSERT_EQ(QK42RT_ReadFlow(1, channel, &flow, &status), 1) << "channel " << channel;
        EXPECT_FLOAT_EQ(flow, 10.0f * channel);
        EXPECT_EQ(status, 0);
    }
    EXPECT_EQ(QK42RT_ClosePort(), 1);
}

TEST_F(Preload, MappedDeviceThatIsMissingFailsToOpen) {
    EXPECT_EQ(QK42RT_InitPort(kMissingPort), 0);
    float flow = 7.0f;
    int status = 7;
    EXPECT_EQ(QK42RT_ReadFlow(1, 1, &flow, &status), 0);
    EXPECT_EQ(flow, 7.0f);
}

}  // namespace
