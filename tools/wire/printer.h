// The slow half of a relay, on a thread of its own: decoding, printing and recording never
// hold up a byte on the line, and a slow reader of standard output (a pager, a full pipe)
// neither.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace qk42rt::wire {

class Printer {
  public:
    Printer();
    ~Printer();  // runs what is queued, then stops
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;

    // Runs `job` on the printer's thread, after the jobs posted before it.
    void post(std::function<void()> job);

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace qk42rt::wire
