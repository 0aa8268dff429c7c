#include "reading_cache.h"

#include "answer.h"

namespace qk42rt::server {

using json = nlohmann::ordered_json;

ReadingCache::ReadingCache(std::string line, std::shared_ptr<EventHub> hub)
    : line_(std::move(line)), hub_(std::move(hub)) {}

void ReadingCache::store_reading(int address, int channel, const ChannelReading& reading,
                                 std::vector<EventHub::Published>& events) {
    json data{{"line", line_},
              {"time", reading.time},
              {"address", address},
              {"channel", channel},
              {"flow", reading.flow ? float_json(*reading.flow) : nullptr},
              {"status", reading.status}};
    channels_[{address, channel}].reading = reading;
    events.push_back({line_, "reading", data.dump()});
}

void ReadingCache::publish(const char* name, json data) {
    hub_->publish({{line_, name, data.dump()}});
}

void ReadingCache::reading(int address, int channel, const ChannelReading& reading) {
    std::lock_guard lock(mutex_);
    std::vector<EventHub::Published> events;
    store_reading(address, channel, reading, events);
    hub_->publish(std::move(events));
}

void ReadingCache::readings(int address, const std::vector<ChannelReading>& by_channel) {
    std::lock_guard lock(mutex_);
    std::vector<EventHub::Published> events;
    for (std::size_t i = 0; i < by_channel.size(); ++i) {
        store_reading(address, static_cast<int>(i) + 1, by_channel[i], events);
    }
    hub_->publish(std::move(events));
}

void ReadingCache::setpoint(int address, int channel, float setpoint) {
    std::lock_guard lock(mutex_);
    auto& known = channels_[{address, channel}].setpoint;
    if (known == setpoint) return;
    known = setpoint;
    publish("setpoint", {{"line", line_},
                         {"address", address},
                         {"channel", channel},
                         {"setpoint", float_json(setpoint)}});
}

void ReadingCache::on_off(int address, int state) {
    std::lock_guard lock(mutex_);
    const auto known = on_offs_.find(address);
    if (known != on_offs_.end() && known->second == state) return;
    on_offs_[address] = state;
    publish("onoff", {{"line", line_}, {"address", address}, {"state", state}});
}

void ReadingCache::line(bool up, const std::string& reason) {
    std::lock_guard lock(mutex_);
    publish("line", {{"line", line_}, {"up", up}, {"reason", reason}});
}

std::map<int, int> ReadingCache::on_offs() const {
    std::lock_guard lock(mutex_);
    return on_offs_;
}

std::map<std::pair<int, int>, ChannelCache> ReadingCache::channels() const {
    std::lock_guard lock(mutex_);
    return channels_;
}

}  // namespace qk42rt::server
