// The poller beside the line worker, in this process: what happens to its jobs when it stops
// while they still wait in the queue (as at the end of `qk42rt serve`).
#include "poller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>

#include "instruments.h"
#include "line_worker.h"
#include "metrics.h"
#include "reading_cache.h"
#include "served.h"
#include "simulator.h"

namespace qk42rt::server {
namespace {

using namespace std::chrono_literals;

TEST(ServePoller, JobsStillQueuedWhenThePollerStopsRunNoExchange) {
    sim::Simulator sim(testing::test_sim_options({1}, /*tcp=*/true));
    Metrics metrics;
    ReadingCache cache;
    LineWorker worker("tcp://" + sim.tcp_address(), {});
    ASSERT_TRUE(worker.wait_until_up(3000ms));
    Instruments instruments({1});
    std::atomic<bool> stopping{false};
    Context context{worker, cache, metrics, instruments, stopping};

    // A job of our own holds the line, so the poller's first cycle waits behind it.
    std::promise<void> holding;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    worker.post([&holding, released](protocol::Line&) -> JobResult {
        holding.set_value();
        released.wait();
        return std::nullopt;
    });
    holding.get_future().wait();
    // The poller posts its first cycle before it looks whether it is to stop.
    { Poller poller(context, 10ms); }
    release.set_value();

    // Our turn comes after the poller's job: by then it has run or been dropped.
    ASSERT_TRUE(worker.run([](protocol::Line&) -> JobResult { return std::nullopt; }));
    EXPECT_EQ(sim.counters().requests, 0U);
}

}  // namespace
}  // namespace qk42rt::server
