// The events of every served line, in one sequence: what the event stream sends and the MQTT
// face publishes. Each line's cache publishes here; readers wait for what came after the
// last event they saw, so that no reader adds line traffic or holds a writer back.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace qk42rt::server {

// One event: its line, its name ("reading", "setpoint", "onoff", "line") and its JSON data.
struct Event {
    std::uint64_t sequence = 0;
    std::string line;
    std::string name;
    std::string data;
};

class EventHub {
  public:
    struct Published {
        std::string line;
        std::string name;
        std::string data;
    };
    // Several events at once wake each reader once.
    void publish(std::vector<Published> events);

    // Events after `after`, waiting up to `limit` for the first; an empty list at the limit.
    // A reader that fell behind more than the events kept skips the oldest.
    std::vector<Event> events_after(std::uint64_t after, std::chrono::milliseconds limit) const;
    std::uint64_t last_sequence() const;
    // Wakes every waiting reader, for example at shutdown.
    void wake_all();

  private:
    static constexpr std::size_t kEventsKept = 16384;
    mutable std::mutex mutex_;
    mutable std::condition_variable published_;
    std::deque<Event> events_;
    std::uint64_t sequence_ = 0;
};

}  // namespace qk42rt::server
