// The one owner of the line: runs one job at a time from a queue, so that requests from any
// number of clients and the poller never interleave on the wire; opens the line again every
// second while it is down.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "port/port.h"
#include "protocol/exchange.h"
#include "protocol/outcome.h"

namespace qk42rt::server {

class Metrics;

// The state of the line, as clients see it.
struct LineState {
    bool up = false;
    std::string reason;  // why it is down
};

// What a job ends with: nothing when all went well, else the failure that ended it.
using JobResult = std::optional<Error>;

class LineWorker {
  public:
    // A job runs its exchanges on the open line.
    using Job = std::function<JobResult(protocol::Line&)>;
    // Told about every change of the line's state, on the worker's thread.
    using OnChange = std::function<void(const LineState&)>;

    LineWorker(std::string device, OnChange on_change);
    ~LineWorker();  // finishes the job in flight, closes the line
    LineWorker(const LineWorker&) = delete;
    LineWorker& operator=(const LineWorker&) = delete;

    // Runs `job` in its turn and waits for it. Empty optional while the line is down: the job
    // does not run then.
    std::optional<JobResult> run(Job job);

    // Queues `job` without waiting (the poller's readings); dropped while the line is down.
    void post(Job job);

    LineState state() const;

    // Waits until the line is up or `limit` passes. True when it is up.
    bool wait_until_up(std::chrono::milliseconds limit) const;

  private:
    struct Task {
        Job job;
        std::promise<std::optional<JobResult>> done;
        bool waited = false;
    };
    void serve();
    void try_open();
    void mark(bool up, const std::string& reason);

    const std::string device_;
    OnChange on_change_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<Task> queue_;
    bool stopping_ = false;
    LineState state_;
    std::chrono::steady_clock::time_point next_attempt_{};

    // The worker thread's own.
    std::unique_ptr<Port> port_;
    protocol::Line line_;
    std::thread thread_;
};

}  // namespace qk42rt::server
