#include "metrics.h"

#include <cstdio>
#include <sstream>

#include "host/status.h"
#include "protocol/text.h"
#include "reading_cache.h"

namespace qk42rt::server {
namespace {

std::string number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

// A reading as the shortest text that is the same float (43.67, not 43.6699982), and a value
// that is not a number as Prometheus spells it: a NaN's sign bit would make it "-nan", which
// fails the whole scrape.
std::string number(float value) {
    return protocol::float_text(value, protocol::NonFinite::prometheus);
}

std::string labels(int address, int channel) {
    return "{address=\"" + std::to_string(address) + "\",channel=\"" + std::to_string(channel) +
           "\"}";
}

}  // namespace

ExchangeTimes::ExchangeTimes(protocol::Line& line)
    : line_(line), last_(std::chrono::steady_clock::now()) {
    line_.set_trace([this](const protocol::Request&, const protocol::Reply&) {
        const auto now = std::chrono::steady_clock::now();
        took_.push_back(now - last_);
        last_ = now;
    });
}

ExchangeTimes::~ExchangeTimes() {
    line_.set_trace({});
}

void ExchangeTimes::record(Metrics& metrics, const std::optional<Error>& failure) const {
    if (took_.empty()) {
        if (failure) metrics.exchange(failure, std::chrono::steady_clock::now() - last_);
        return;
    }
    for (std::size_t i = 0; i < took_.size(); ++i) {
        metrics.exchange(i + 1 == took_.size() ? failure : std::nullopt, took_[i]);
    }
}

void Metrics::exchange(const std::optional<Error>& failure, std::chrono::duration<double> took) {
    std::lock_guard lock(mutex_);
    ++results_[failure ? qk42_status_name(host::status_of(failure->why)) : "ok"];
    const double seconds = took.count();
    for (std::size_t i = 0; i < kBuckets.size(); ++i) {
        if (seconds <= kBuckets[i]) ++buckets_[i];
    }
    ++count_;
    sum_ += seconds;
}

void Metrics::set_line_up(bool up) {
    std::lock_guard lock(mutex_);
    line_up_ = up;
}

std::string Metrics::text(const ReadingCache& cache) const {
    std::ostringstream out;
    const auto channels = cache.channels();
    out << "# HELP qk42_flow Last polled flow of a channel (absent while flagged invalid).\n"
           "# TYPE qk42_flow gauge\n";
    for (const auto& [key, state] : channels) {
        if (state.reading && state.reading->flow) {
            out << "qk42_flow" << labels(key.first, key.second) << ' '
                << number(*state.reading->flow) << '\n';
        }
    }
    out << "# HELP qk42_setpoint Last known setpoint of a channel.\n"
           "# TYPE qk42_setpoint gauge\n";
    for (const auto& [key, state] : channels) {
        if (state.setpoint) {
            out << "qk42_setpoint" << labels(key.first, key.second) << ' '
                << number(*state.setpoint) << '\n';
        }
    }
    out << "# HELP qk42_status Status bits (0 to 7) of the last polled flow reading.\n"
           "# TYPE qk42_status gauge\n";
    for (const auto& [key, state] : channels) {
        if (state.reading) {
            out << "qk42_status" << labels(key.first, key.second) << ' ' << state.reading->status
                << '\n';
        }
    }
    std::lock_guard lock(mutex_);
    out << "# HELP qk42_line_up 1 while the line to the instruments is open.\n"
           "# TYPE qk42_line_up gauge\n"
           "qk42_line_up "
        << (line_up_ ? 1 : 0) << '\n';
    out << "# HELP qk42_exchanges_total Exchanges with the instruments, by result.\n"
           "# TYPE qk42_exchanges_total counter\n";
    if (results_.empty()) out << "qk42_exchanges_total{result=\"ok\"} 0\n";
    for (const auto& [result, count] : results_) {
        out << "qk42_exchanges_total{result=\"" << result << "\"} " << count << '\n';
    }
    out << "# HELP qk42_exchange_duration_seconds Time from request to the end of the reply.\n"
           "# TYPE qk42_exchange_duration_seconds histogram\n";
    for (std::size_t i = 0; i < kBuckets.size(); ++i) {
        out << "qk42_exchange_duration_seconds_bucket{le=\"" << number(kBuckets[i]) << "\"} "
            << buckets_[i] << '\n';
    }
    out << "qk42_exchange_duration_seconds_bucket{le=\"+Inf\"} " << count_ << '\n'
        << "qk42_exchange_duration_seconds_sum " << number(sum_) << '\n'
        << "qk42_exchange_duration_seconds_count " << count_ << '\n';
    return out.str();
}

}  // namespace qk42rt::server
