// The latest state of every served channel, as the poller and the API's own exchanges found
// it: what the event stream, the page and /metrics read, so that their readers add no line
// traffic. Also hands each new reading and line change to the event stream.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "utc_time.h"

namespace qk42rt::server {

struct ChannelReading {
    std::optional<float> flow;  // empty when the instrument flags it invalid
    int status = 0;
    std::string time;  // UTC, ISO 8601 with milliseconds
};

struct ChannelCache {
    std::optional<ChannelReading> reading;
    std::optional<float> setpoint;
};

// One Server-Sent Event: its name and its JSON data.
struct Event {
    std::uint64_t sequence = 0;
    std::string name;
    std::string data;
};

class ReadingCache {
  public:
    void reading(int address, int channel, const ChannelReading& reading);
    // The eight readings of one poll of an instrument, published at once: subscribers wake
    // once for them, not eight times.
    void readings(int address, const std::vector<ChannelReading>& by_channel);
    void setpoint(int address, int channel,
                  float setpoint);        // publishes "setpoint" when it changed
    void on_off(int address, int state);  // publishes "onoff" when it changed
    void line(bool up, const std::string& reason);

    // A copy of every channel's state, by (address, channel).
    std::map<std::pair<int, int>, ChannelCache> channels() const;
    std::map<int, int> on_offs() const;  // by address

    // Events after `after`, waiting up to `limit` for the first; an empty list at the limit.
    // A subscriber that fell behind more than the events kept skips the oldest.
    std::vector<Event> events_after(std::uint64_t after, std::chrono::milliseconds limit) const;
    std::uint64_t last_sequence() const;
    // Wakes every waiting subscriber, for example at shutdown.
    void wake_all();

  private:
    void publish(std::string name, std::string data);  // holds mutex_; wakes no one
    void store_reading(int address, int channel, const ChannelReading& reading);  // holds mutex_

    static constexpr std::size_t kEventsKept = 4096;
    mutable std::mutex mutex_;
    mutable std::condition_variable published_;
    std::map<std::pair<int, int>, ChannelCache> channels_;
    std::map<int, int> on_offs_;
    std::deque<Event> events_;
    std::uint64_t sequence_ = 0;
};

}  // namespace qk42rt::server
