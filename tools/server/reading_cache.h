// The latest state of every channel of one line, as the poller and the API's own exchanges
// found it: what the page, /metrics and the MQTT face read, so that their readers add no line
// traffic. Also hands each new reading, changed setting and line change to the events of
// every line.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "event_hub.h"
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

class ReadingCache {
  public:
    // Events go to `hub`, named after `line`.
    explicit ReadingCache(std::string line = "line1",
                          std::shared_ptr<EventHub> hub = std::make_shared<EventHub>());

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

    const std::string& line_name() const { return line_; }
    EventHub& hub() const { return *hub_; }

  private:
    // Holds mutex_, so that the events of one line keep the order of its changes.
    void publish(const char* name, nlohmann::ordered_json data);
    void store_reading(int address, int channel, const ChannelReading& reading,
                       std::vector<EventHub::Published>& events);  // holds mutex_

    const std::string line_;
    const std::shared_ptr<EventHub> hub_;
    mutable std::mutex mutex_;
    std::map<std::pair<int, int>, ChannelCache> channels_;
    std::map<int, int> on_offs_;
};

}  // namespace qk42rt::server
