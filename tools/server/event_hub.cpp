#include "event_hub.h"

namespace qk42rt::server {

void EventHub::publish(std::vector<Published> events) {
    if (events.empty()) return;
    std::lock_guard lock(mutex_);
    for (Published& event : events) {
        events_.push_back(Event{++sequence_, std::move(event.line), std::move(event.name),
                                std::move(event.data)});
        if (events_.size() > kEventsKept) events_.pop_front();
    }
    published_.notify_all();
}

std::vector<Event> EventHub::events_after(std::uint64_t after,
                                          std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    published_.wait_for(lock, limit, [&] { return sequence_ > after; });
    // Sequence numbers are consecutive: the first new event is found by arithmetic, not by
    // walking the history (a hundred subscribers do this at every wake-up).
    std::vector<Event> fresh;
    if (events_.empty() || sequence_ <= after) return fresh;
    const std::uint64_t first = events_.front().sequence;
    const std::size_t skip = after >= first ? static_cast<std::size_t>(after - first + 1) : 0;
    fresh.assign(events_.begin() + static_cast<std::ptrdiff_t>(skip), events_.end());
    return fresh;
}

std::uint64_t EventHub::last_sequence() const {
    std::lock_guard lock(mutex_);
    return sequence_;
}

void EventHub::wake_all() {
    std::lock_guard lock(mutex_);
    published_.notify_all();
}

}  // namespace qk42rt::server
