// The page in a real headless browser (Debian's chromium, driven by playwright-core from
// web/): live flows, a setpoint set through the form with the token, a channel switched on;
// each checked at the instrument. A screenshot is kept in the build folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "served.h"

namespace qk42rt::testing {
namespace {

const std::string kNode = "/usr/bin/node";
const std::string kScript = std::string(QK42RT_WEB_DIR) + "/test/page_test.mjs";
const std::string kScreenshot = std::string(QK42RT_BUILD_DIR) + "/server-page.png";

TEST(ServePage, ShowsLiveFlowsAndSetsASetpointInARealBrowser) {
    ASSERT_TRUE(std::filesystem::exists("/usr/bin/chromium"))
        << "chromium is missing: scripts/install-deps.sh installs it";
    ASSERT_TRUE(
        std::filesystem::exists(std::string(QK42RT_WEB_DIR) + "/node_modules/playwright-core"))
        << "playwright-core is missing: scripts/install-deps.sh runs npm ci in web/";
    sim::Simulator sim(test_sim_options());
    sim.update(1, [](sim::InstrumentState& s) {
        s.on_off = 0x01;
        s.channels[0].setpoint = 12.5f;
    });
    const std::string token = ::testing::TempDir() + "qk42-page-token-" + std::to_string(getpid());
    std::ofstream(token) << "page-token\n";
    chmod(token.c_str(), 0600);
    Served served(sim.slave_path(),
                  {"--address", "1", "--poll-interval", "200", "--token-file", token});
    std::filesystem::remove(kScreenshot);

    const Finished browser = [&] {
        ChildProcess node(kNode, {kScript, served.url() + "/", kScreenshot, "page-token"});
        return node.finish(90'000);
    }();
    std::cout << browser.out << browser.err;
    EXPECT_EQ(browser.exit_code, 0);
    EXPECT_EQ(sim.state(1).channels[1].setpoint, 33.5f)
        << "the form's setpoint reached the instrument";
    EXPECT_EQ(sim.state(1).on_off, 0x05) << "channel 3 switched on from the page";
    EXPECT_TRUE(std::filesystem::exists(kScreenshot));
    std::remove(token.c_str());
}

}  // namespace
}  // namespace qk42rt::testing
