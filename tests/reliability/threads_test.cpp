// Eight host threads calling mixed operations while a ninth opens and closes the port:
// every call gets its own reply or a clean 0, never another call's value.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "mixed_call.h"
#include "support/port_map.h"

namespace qk42rt::testing {
namespace {

constexpr int kEach = 150;

TEST(Threads, EightCallersAndAnOpenerNeverCrossReplies) {
    PtyPeer peer([](const Bytes& r) { return echo_answer(r); });
    map_port(kTestPort, peer.slave_path());
    ASSERT_EQ(QK42RT_InitPort(kTestPort), 1);
    std::atomic<int> ok{0}, failed{0}, wrong{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> callers;
    for (int t = 0; t < 8; ++t) {
        callers.emplace_back([&, t] {
            // Calls while the port is closed fail at once; go on until enough got through.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            int mine = 0;
            for (int n = 0; mine < kEach && std::chrono::steady_clock::now() < deadline; ++n) {
                switch (mixed_call(t * 7 + n)) {
                    case CallResult::ok:
                        ++ok;
                        ++mine;
                        break;
                    case CallResult::failed:
                        ++failed;
                        break;
                    case CallResult::wrong_value:
                        ++wrong;
                        break;
                }
            }
        });
    }
    std::thread opener([&] {
        while (!done) {
            QK42RT_ClosePort();
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            QK42RT_InitPort(kTestPort);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    for (auto& caller : callers) caller.join();
    done = true;
    opener.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(ok, 8 * kEach);
    EXPECT_GT(failed, 0) << "the opener never closed the port under the callers";
    QK42RT_ClosePort();
    unmap_ports();
}

}  // namespace
}  // namespace qk42rt::testing
