// Reads the flow of every served channel every interval (and now and then the setpoints and
// on/off states) into the cache, as jobs on the line worker's queue like any client's.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "api.h"

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
    // The poller's own jobs still in the queue (run or dropped, each counts itself out): a
    // cycle is skipped while the last one waits, however many clients' jobs wait beside it.
    std::shared_ptr<std::atomic<int>> queued_ = std::make_shared<std::atomic<int>>(0);
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace qk42rt::server
