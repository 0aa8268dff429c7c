// The page in a real headless browser (Debian's chromium, driven by playwright-core from
// web/): live flows, a setpoint set through the form with the token, a channel switched on,
// every line of a server with two, and the time axis of the first readings; writes checked at
// the instruments. A screenshot of each page is kept in the build folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "config_files.h"
#include "served.h"

namespace qk42rt::testing {
namespace {

const std::string kNode = "/usr/bin/node";
const std::string kScript = std::string(QK42RT_WEB_DIR) + "/test/page_test.mjs";

// Runs the page test's `scenario` against the server at `url`; its screenshot is
// build/server-page-SCENARIO.png.
Finished run_page_test(const std::string& scenario, const std::string& url,
                       const std::string& token) {
    EXPECT_TRUE(std::filesystem::exists("/usr/bin/chromium"))
        << "chromium is missing: scripts/install-deps.sh installs it";
    EXPECT_TRUE(
        std::filesystem::exists(std::string(QK42RT_WEB_DIR) + "/node_modules/playwright-core"))
        << "playwright-core is missing: scripts/install-deps.sh runs npm ci in web/";
    const std::string screenshot =
        std::string(QK42RT_BUILD_DIR) + "/server-page-" + scenario + ".png";
    std::filesystem::remove(screenshot);
    ChildProcess node(kNode, {kScript, scenario, url + "/", screenshot, token});
    Finished done = node.finish(90'000);
    std::cout << done.out << done.err;
    EXPECT_TRUE(std::filesystem::exists(screenshot));
    return done;
}

// One [[line]] table of a configuration file, polled every 200 ms.
std::string line_table(const std::string& name, const std::string& device,
                       const std::string& addresses) {
    return "[[line]]\nname = \"" + name + "\"\ndevice = \"" + device +
           "\"\naddresses = " + addresses + "\npoll_interval_ms = 200\n";
}

TEST(ServePage, ShowsLiveFlowsAndSetsASetpointInARealBrowser) {
    sim::Simulator sim(test_sim_options());
    sim.update(1, [](sim::InstrumentState& s) {
        s.on_off = 0x01;
        s.channels[0].setpoint = 12.5f;
    });
    ConfigFolder folder;
    const std::string token = folder.write("token", "page-token\n");
    Served served(sim.slave_path(),
                  {"--address", "1", "--poll-interval", "200", "--token-file", token});

    EXPECT_EQ(run_page_test("one-line", served.url(), "page-token").exit_code, 0);
    EXPECT_EQ(sim.state(1).channels[1].setpoint, 33.5f)
        << "the form's setpoint reached the instrument";
    EXPECT_EQ(sim.state(1).on_off, 0x05) << "channel 3 switched on from the page";
}

// Two lines with an instrument at address 1 on each, so that only the line tells their
// readings and writes apart.
TEST(ServePage, ShowsEveryLineAndWritesToTheLineOfTheForm) {
    sim::Simulator bench(test_sim_options({1, 2}));
    sim::Simulator rig(test_sim_options({1}));
    bench.update(1, [](sim::InstrumentState& s) {
        s.on_off = 0x01;
        s.channels[0].setpoint = 12.5f;
        s.channels[1].setpoint = 20.0f;
    });
    rig.update(1, [](sim::InstrumentState& s) {
        s.on_off = 0x01;
        s.channels[0].setpoint = 27.25f;
        s.channels[1].setpoint = 20.0f;
    });
    ConfigFolder folder;
    const std::string token = folder.write("token", "page-token\n");
    const std::string config = folder.write(
        "gateway.toml", "[http]\nlisten = \"127.0.0.1:0\"\ntoken_file = \"" + token + "\"\n" +
                            line_table("bench", bench.slave_path(), "[1, 2]") +
                            line_table("rig", rig.slave_path(), "[1]"));
    Served served(ConfigFile{config});

    EXPECT_EQ(run_page_test("two-lines", served.url(), "page-token").exit_code, 0);
    EXPECT_EQ(rig.state(1).channels[1].setpoint, 33.5f) << "the form's setpoint reached the rig";
    EXPECT_EQ(bench.state(1).channels[1].setpoint, 20.0f) << "and nothing reached the bench";
}

}  // namespace
}  // namespace qk42rt::testing
