#include "metrics.h"

#include <cstdio>
#include <map>
#include <sstream>
#include <vector>

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

std::string quoted(const std::string& name) {
    return "\"" + name + "\"";  // line names are letters, digits, - and _: nothing to escape
}

std::string labels(const std::string& line, int address, int channel) {
    return "{line=" + quoted(line) + ",address=\"" + std::to_string(address) + "\",channel=\"" +
           std::to_string(channel) + "\"}";
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
    const LineMetrics line{*this, cache};
    return metrics_text({&line, 1});
}

std::string metrics_text(std::span<const LineMetrics> lines) {
    std::ostringstream out;
    std::vector<std::map<std::pair<int, int>, ChannelCache>> channels;
    for (const LineMetrics& line : lines) channels.push_back(line.cache.channels());
    const auto each_channel = [&](auto&& write) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            for (const auto& [key, state] : channels[i]) {
                write(labels(lines[i].cache.line_name(), key.first, key.second), state);
            }
        }
    };
    out << "# HELP qk42_flow Last polled flow of a channel (absent while flagged invalid).\n"
           "# TYPE qk42_flow gauge\n";
    each_channel([&](const std::string& at, const ChannelCache& state) {
        if (state.reading && state.reading->flow) {
            out << "qk42_flow" << at << ' ' << number(*state.reading->flow) << '\n';
        }
    });
    out << "# HELP qk42_setpoint Last known setpoint of a channel.\n"
           "# TYPE qk42_setpoint gauge\n";
    each_channel([&](const std::string& at, const ChannelCache& state) {
        if (state.setpoint) out << "qk42_setpoint" << at << ' ' << number(*state.setpoint) << '\n';
    });
    out << "# HELP qk42_status Status bits (0 to 7) of the last polled flow reading.\n"
           "# TYPE qk42_status gauge\n";
    each_channel([&](const std::string& at, const ChannelCache& state) {
        if (state.reading) out << "qk42_status" << at << ' ' << state.reading->status << '\n';
    });

    // Each line's counters under its own lock, one line at a time.
    std::vector<std::unique_lock<std::mutex>> locks;
    for (const LineMetrics& line : lines) locks.emplace_back(line.metrics.mutex_);
    const auto line_label = [&](std::size_t i) {
        return "line=" + quoted(lines[i].cache.line_name());
    };
    out << "# HELP qk42_line_up 1 while the line to the instruments is open.\n"
           "# TYPE qk42_line_up gauge\n";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out << "qk42_line_up{" << line_label(i) << "} " << (lines[i].metrics.line_up_ ? 1 : 0)
            << '\n';
    }
    out << "# HELP qk42_exchanges_total Exchanges with the instruments, by result.\n"
           "# TYPE qk42_exchanges_total counter\n";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Metrics& m = lines[i].metrics;
        if (m.results_.empty()) {
            out << "qk42_exchanges_total{" << line_label(i) << ",result=\"ok\"} 0\n";
        }
        for (const auto& [result, count] : m.results_) {
            out << "qk42_exchanges_total{" << line_label(i) << ",result=\"" << result << "\"} "
                << count << '\n';
        }
    }
    out << "# HELP qk42_exchange_duration_seconds Time from request to the end of the reply.\n"
           "# TYPE qk42_exchange_duration_seconds histogram\n";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Metrics& m = lines[i].metrics;
        const std::string at = line_label(i);
        for (std::size_t b = 0; b < Metrics::kBuckets.size(); ++b) {
            out << "qk42_exchange_duration_seconds_bucket{" << at << ",le=\""
                << number(Metrics::kBuckets[b]) << "\"} " << m.buckets_[b] << '\n';
        }
        out << "qk42_exchange_duration_seconds_bucket{" << at << ",le=\"+Inf\"} " << m.count_
            << '\n'
            << "qk42_exchange_duration_seconds_sum{" << at << "} " << number(m.sum_) << '\n'
            << "qk42_exchange_duration_seconds_count{" << at << "} " << m.count_ << '\n';
    }
    return out.str();
}

}  // namespace qk42rt::server
