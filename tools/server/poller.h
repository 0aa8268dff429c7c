// Reads the flow of every served channel every interval (and now and then the setpoints and
// on/off states) into the cache, as jobs on the line worker's queue like any client's.
#pragma once

#include <chrono>
#include <condition_variable>
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
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace qk42rt::server
