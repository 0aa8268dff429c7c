#include "line_worker.h"

#include "port/open_port.h"

namespace qk42rt::server {
namespace {

constexpr auto kReopenEvery = std::chrono::seconds(1);

}  // namespace

LineWorker::LineWorker(std::string device, OnChange on_change)
    : device_(std::move(device)), on_change_(std::move(on_change)) {
    state_.reason = "not opened yet";
    thread_ = std::thread([this] { serve(); });
}

LineWorker::~LineWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

std::optional<JobResult> LineWorker::run(Job job) {
    std::future<std::optional<JobResult>> result;
    {
        std::lock_guard lock(mutex_);
        if (!state_.up || stopping_) return std::nullopt;
        Task task{std::move(job), {}, true};
        result = task.done.get_future();
        queue_.push_back(std::move(task));
    }
    changed_.notify_all();
    return result.get();
}

void LineWorker::post(Job job) {
    {
        std::lock_guard lock(mutex_);
        if (!state_.up || stopping_) return;
        queue_.push_back(Task{std::move(job), {}, false});
    }
    changed_.notify_all();
}

LineState LineWorker::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

bool LineWorker::wait_until_up(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit, [this] { return state_.up || stopping_; });
    return state_.up;
}

void LineWorker::serve() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!state_.up) {
            // Jobs queued before the line went down are answered at once.
            for (Task& task : queue_) {
                if (task.waited) task.done.set_value(std::nullopt);
            }
            queue_.clear();
            if (std::chrono::steady_clock::now() >= next_attempt_) {
                lock.unlock();
                try_open();
                lock.lock();
            } else {
                changed_.wait_until(lock, next_attempt_, [this] { return stopping_; });
            }
            continue;
        }
        if (queue_.empty()) {
            changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            continue;
        }
        Task task = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        const JobResult result = task.job(line_);
        if (result && result->why == Failure::line_closed) {
            line_.set_port(nullptr);
            port_.reset();
            mark(false, "the line went away: " + describe(*result));
        }
        if (task.waited) task.done.set_value(result);
        lock.lock();
    }
    // Stopping after the job in flight: whoever still waits is told the line is down.
    for (Task& task : queue_) {
        if (task.waited) task.done.set_value(std::nullopt);
    }
    queue_.clear();
    lock.unlock();
    line_.set_port(nullptr);
    port_.reset();
}

void LineWorker::try_open() {
    OpenResult opened = open_device(device_);
    {
        std::lock_guard lock(mutex_);
        next_attempt_ = std::chrono::steady_clock::now() + kReopenEvery;
    }
    if (opened.status == OpenStatus::opened) {
        port_ = std::move(opened.port);
        line_.set_port(port_.get());
        mark(true, "");
        return;
    }
    const std::string reason = "cannot open " + device_ + ": " + opened.reason;
    if (reason != state().reason) mark(false, reason);
}

void LineWorker::mark(bool up, const std::string& reason) {
    LineState now;
    {
        std::lock_guard lock(mutex_);
        state_.up = up;
        state_.reason = reason;
        now = state_;
    }
    changed_.notify_all();
    if (on_change_) on_change_(now);
}

}  // namespace qk42rt::server
