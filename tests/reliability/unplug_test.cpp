// The adapter goes away in the middle of a session: nothing blocks, nothing crashes, and a
// new line works.
#include <gtest/gtest.h>

#include <chrono>

#include "mixed_call.h"
#include "support/port_map.h"

namespace qk42rt::testing {
namespace {

using namespace std::chrono;

TEST(Unplug, EveryLaterCallFailsPromptlyAndANewLineWorks) {
    auto peer = std::make_unique<PtyPeer>([](const Bytes& r) { return echo_answer(r); });
    map_port(kTestPort, peer->slave_path());
    ASSERT_EQ(QK42RT_InitPort(kTestPort), 1);
    for (int n = 0; n < 20; ++n) ASSERT_EQ(mixed_call(n), CallResult::ok);

    peer->hang_up();
    for (int n = 0; n < 20; ++n) {
        const auto start = steady_clock::now();
        EXPECT_EQ(mixed_call(n), CallResult::failed);
        const double ms = duration<double, std::milli>(steady_clock::now() - start).count();
        EXPECT_LE(ms, 505.0);
    }
    EXPECT_EQ(QK42RT_ClosePort(), 1);

    PtyPeer replacement([](const Bytes& r) { return echo_answer(r); });
    map_port(kTestPort, replacement.slave_path());
    ASSERT_EQ(QK42RT_InitPort(kTestPort), 1);
    for (int n = 0; n < 20; ++n) EXPECT_EQ(mixed_call(n), CallResult::ok);
    QK42RT_ClosePort();
    unmap_ports();
}

}  // namespace
}  // namespace qk42rt::testing
