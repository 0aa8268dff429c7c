// An instrument that does not answer, or stops half-way: each exported call waits its full
// 500 ms, never less, and sleeps through the wait instead of spinning on the CPU.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "qk42rt.h"
#include "support/port_map.h"
#include "support/pty_peer.h"

namespace qk42rt::testing {
namespace {

using Clock = std::chrono::steady_clock;

// CPU time of the calling thread alone: the peer's own thread is not counted.
double thread_cpu_ms() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Operations whose replies are longer than one byte, so that one byte is a partial reply.
struct Call {
    std::string name;
    std::function<int()> run;
};

const std::vector<Call>& calls() {
    static const std::vector<Call> table{
        {"ReadFlow",
         [] {
             float flow = 0.0f;
             int status = 0;
             return QK42RT_ReadFlow(1, 1, &flow, &status);
         }},
        {"ReadMaxflow",
         [] {
             float maxflow = 0.0f;
             int status = 0;
             return QK42RT_ReadMaxflow(1, 1, &maxflow, &status);
         }},
        {"ReadVersion",
         [] {
             float version = 0.0f;
             int kind = 0, info1 = 0, info2 = 0;
             return QK42RT_ReadVersion(1, &version, &kind, &info1, &info2);
         }},
        {"ReadInttime",
         [] {
             unsigned char inttime[4] = {};
             return QK42RT_ReadInttime(1, inttime);
         }},
    };
    return table;
}

struct Peer {
    const char* name;
    Responder responder;
};

class Waiting : public ::testing::TestWithParam<Peer> {};

TEST_P(Waiting, EveryCallWaitsAtLeast500msWithoutSpinning) {
    PtyPeer peer(GetParam().responder);
    map_port(kTestPort, peer.slave_path());
    ASSERT_EQ(QK42RT_InitPort(kTestPort), 1);

    const double cpu_start = thread_cpu_ms();
    const auto wall_start = Clock::now();
    for (const Call& call : calls()) {
        const auto start = Clock::now();
        EXPECT_EQ(call.run(), 0) << call.name;
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        EXPECT_GE(ms, 500.0) << call.name;
        EXPECT_LT(ms, 5000.0) << call.name;  // a wait that never ends is a hang
    }
    const double wall_ms =
        std::chrono::duration<double, std::milli>(Clock::now() - wall_start).count();
    const double cpu_ms = thread_cpu_ms() - cpu_start;
    // A loop that polls without sleeping would burn close to 100 %; a sleeping wait, well
    // under 1 %. Five per cent leaves room for a loaded machine.
    EXPECT_LE(cpu_ms, 0.05 * wall_ms) << cpu_ms << " ms of CPU in " << wall_ms << " ms";

    EXPECT_EQ(QK42RT_ClosePort(), 1);
    unmap_ports();
}

INSTANTIATE_TEST_SUITE_P(
    NoFullReply, Waiting,
    ::testing::Values(Peer{"Silent", [](const Bytes&) { return std::vector<Chunk>{}; }},
                      // One byte, then nothing: the read has begun and must still sleep.
                      Peer{"OneByteThenSilence",
                           [](const Bytes&) {
                               return std::vector<Chunk>{{0, Bytes{0x00}}};
                           }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qk42rt::testing
