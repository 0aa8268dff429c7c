// Reads the flow of every served channel every interval (and now and then the setpoints and
// on/off states) into the cache, as jobs on the line worker's queue like any client's.
// The context's cache and metrics must outlive its worker: a job in flight when the poller
// stops still finishes into them. Jobs still queued then run no exchange.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "context.h"

namespace qk42rt::server {

class Poller {
  public:
    Poller(Context& context, std::chrono::milliseconds interval);
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

  private:
    void run();
    void post_cycle(bool with_settings);

    Context& c_;
    const std::chrono::milliseconds interval_;
    // Shared with the jobs in the queue, which may outlive the poller.
    struct Jobs {
        // Still in the queue (run or dropped, each counts itself out): a cycle is skipped
        // while the last one waits, however many clients' jobs wait beside it.
        std::atomic<int> queued{0};
        // Set under mutex_: wakes the poller's thread, and tells queued jobs not to run.
        std::atomic<bool> stopping{false};
    };
    std::shared_ptr<Jobs> jobs_ = std::make_shared<Jobs>();
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
};

}  // namespace qk42rt::server
