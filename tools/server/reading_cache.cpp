#include "reading_cache.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "answer.h"

namespace qk42rt::server {

void ReadingCache::store_reading(int address, int channel, const ChannelReading& reading) {
    nlohmann::ordered_json data{{"time", reading.time},
                                {"address", address},
                                {"channel", channel},
                                {"flow", reading.flow ? float_json(*reading.flow) : nullptr},
                                {"status", reading.status}};
    channels_[{address, channel}].reading = reading;
    publish("reading", data.dump());
}

void ReadingCache::reading(int address, int channel, const ChannelReading& reading) {
    std::lock_guard lock(mutex_);
    store_reading(address, channel, reading);
    published_.notify_all();
}

void ReadingCache::readings(int address, const std::vector<ChannelReading>& by_channel) {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < by_channel.size(); ++i) {
        store_reading(address, static_cast<int>(i) + 1, by_channel[i]);
    }
    published_.notify_all();
}

void ReadingCache::setpoint(int address, int channel, float setpoint) {
    std::lock_guard lock(mutex_);
    auto& known = channels_[{address, channel}].setpoint;
    if (known == setpoint) return;
    known = setpoint;
    publish("setpoint",
            nlohmann::ordered_json{
                {"address", address}, {"channel", channel}, {"setpoint", float_json(setpoint)}}
                .dump());
    published_.notify_all();
}

void ReadingCache::on_off(int address, int state) {
    std::lock_guard lock(mutex_);
    const auto known = on_offs_.find(address);
    if (known != on_offs_.end() && known->second == state) return;
    on_offs_[address] = state;
    publish("onoff", nlohmann::ordered_json{{"address", address}, {"state", state}}.dump());
    published_.notify_all();
}

std::map<int, int> ReadingCache::on_offs() const {
    std::lock_guard lock(mutex_);
    return on_offs_;
}

void ReadingCache::line(bool up, const std::string& reason) {
    nlohmann::ordered_json data{{"up", up}, {"reason", reason}};
    std::lock_guard lock(mutex_);
    publish("line", data.dump());
    published_.notify_all();
}

std::map<std::pair<int, int>, ChannelCache> ReadingCache::channels() const {
    std::lock_guard lock(mutex_);
    return channels_;
}

void ReadingCache::publish(std::string name, std::string data) {
    events_.push_back(Event{++sequence_, std::move(name), std::move(data)});
    if (events_.size() > kEventsKept) events_.pop_front();
}

std::vector<Event> ReadingCache::events_after(std::uint64_t after,
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

std::uint64_t ReadingCache::last_sequence() const {
    std::lock_guard lock(mutex_);
    return sequence_;
}

void ReadingCache::wake_all() {
    std::lock_guard lock(mutex_);
    published_.notify_all();
}

}  // namespace qk42rt::server
