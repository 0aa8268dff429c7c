// A host whose process takes a timer signal every 2 ms (handlers without restart) sees the
// same results and the same time-outs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>

#include "mixed_call.h"
#include "support/port_map.h"

namespace qk42rt::testing {
namespace {

std::atomic<int> g_signals{0};
void count_signal(int) {
    ++g_signals;
}

class TimerSignals {
  public:
    TimerSignals() {
        struct sigaction action {};
        action.sa_handler = count_signal;
        action.sa_flags = 0;  // no SA_RESTART: every blocking call sees EINTR
        sigemptyset(&action.sa_mask);
        sigaction(SIGALRM, &action, &previous_);
        itimerval every_2ms{{0, 2000}, {0, 2000}};
        setitimer(ITIMER_REAL, &every_2ms, nullptr);
    }
    ~TimerSignals() {
        itimerval off{};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &previous_, nullptr);
    }

  private:
    struct sigaction previous_ {};
};

// Starts the instrument's thread with SIGALRM blocked, so the signals land on the caller.
std::unique_ptr<PtyPeer> start_peer_without_signals() {
    sigset_t alarm, old;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm, &old);
    auto peer = std::make_unique<PtyPeer>([](const Bytes& r) { return echo_answer(r, {8}); });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return peer;
}

TEST(Signals, ResultsAndTimeOutsUnchanged) {
    auto peer = start_peer_without_signals();
    map_port(kTestPort, peer->slave_path());
    ASSERT_EQ(QK42RT_InitPort(kTestPort), 1);
    TimerSignals signals;
    const int before = g_signals;
    int failed = 0, wrong = 0;
    for (int n = 0; n < 400; ++n) {
        const CallResult result = mixed_call(n);
        failed += result == CallResult::failed;
        wrong += result == CallResult::wrong_value;
    }
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(wrong, 0);
    for (int n = 0; n < 3; ++n) {
        float flow = 0;
        int status = 0;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(QK42RT_ReadFlow(8, 1, &flow, &status), 0);  // address 8 never answers
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        EXPECT_GE(ms, 500.0);
        EXPECT_LT(ms, 560.0);
    }
    EXPECT_GT(g_signals - before, 200) << "the timer did not interrupt the session";
    QK42RT_ClosePort();
    unmap_ports();
}

}  // namespace
}  // namespace qk42rt::testing
