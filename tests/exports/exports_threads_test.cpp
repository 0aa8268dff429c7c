// Host threads calling at once each get their own reply, never another's.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "line_fixture.h"
#include "protocol/frame.h"

namespace qk42rt::testing {
namespace {

// Answers a flow read of channel c with the flow c * 10 and status c - 1.
std::vector<Chunk> flow_of_channel(const Bytes& request) {
    if ((request[0] & 0x0F) != 0x3) return {};
    const int channel = request[1] + 1;
    Bytes reply{static_cast<std::uint8_t>(channel - 1)};
    for (std::uint8_t b : protocol::float_bytes(static_cast<float>(channel * 10)))
        reply.push_back(b);
    return {Chunk{0, reply}};
}

TEST(ExportThreads, EachThreadGetsItsOwnReply) {
    PtyPeer peer(flow_of_channel);
    map_port(kTestPort, peer.slave_path());
    ASSERT_EQ(QK42RT_InitPort(kTestPort), 1);
    std::atomic<int> wrong{0}, failed{0};
    auto hammer = [&](int channel) {
        for (int i = 0; i < 300; ++i) {
            float flow = 0;
            int status = -1;
            if (QK42RT_ReadFlow(1, channel, &flow, &status) != 1) {
                ++failed;
            } else if (flow != channel * 10.0f || status != channel - 1) {
                ++wrong;
            }
        }
    };
    std::thread a(hammer, 2), b(hammer, 5);
    a.join();
    b.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(failed, 0);
    QK42RT_ClosePort();
    unmap_ports();
}

}  // namespace
}  // namespace qk42rt::testing
