// What /metrics tells Prometheus: the last readings, the line's state, and every exchange's
// result and duration. The text exposition format is a few lines of text, written here.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/exchange.h"
#include "protocol/outcome.h"

namespace qk42rt::server {

class ReadingCache;
struct LineMetrics;

class Metrics {
  public:
    // One exchange with the instrument: how it ended (nothing: well) and how long it took.
    void exchange(const std::optional<Error>& failure, std::chrono::duration<double> took);
    void set_line_up(bool up);

    // The Prometheus text exposition of this line alone, with the readings of `cache`.
    std::string text(const ReadingCache& cache) const;

  private:
    friend std::string metrics_text(std::span<const LineMetrics> lines);
    // Upper bounds of the duration histogram, in seconds: an exchange on a pseudo-terminal
    // takes tens of microseconds, at 9600 baud about 8 ms, without a reply 500 ms.
    static constexpr std::array<double, 11> kBuckets{0.0001, 0.0005, 0.001, 0.0025, 0.005, 0.01,
                                                     0.025,  0.05,   0.1,   0.25,   0.6};
    mutable std::mutex mutex_;
    std::map<std::string, std::uint64_t> results_;  // by status name
    std::array<std::uint64_t, kBuckets.size()> buckets_{};
    std::uint64_t count_ = 0;
    double sum_ = 0.0;
    bool line_up_ = false;
};

// One line's part of /metrics: its name (the `line` label), exchanges and readings.
struct LineMetrics {
    const Metrics& metrics;
    const ReadingCache& cache;
};

// The Prometheus text exposition of every line: each metric's samples together, labelled
// with their line.
std::string metrics_text(std::span<const LineMetrics> lines);

// Runs one operation of the core and records how it ended and how long it took.
template <class Call>
auto timed(Metrics& metrics, Call&& call) {
    const auto start = std::chrono::steady_clock::now();
    auto outcome = call();
    metrics.exchange(outcome.ok() ? std::nullopt : std::optional<Error>(outcome.error()),
                     std::chrono::steady_clock::now() - start);
    return outcome;
}

// Sees each exchange an operation makes on a line (a channel's status makes four) through the
// line's trace, which it holds while it lives: the line must carry no trace of its own.
class ExchangeTimes {
  public:
    explicit ExchangeTimes(protocol::Line& line);
    ~ExchangeTimes();
    ExchangeTimes(const ExchangeTimes&) = delete;
    ExchangeTimes& operator=(const ExchangeTimes&) = delete;

    // Records every exchange seen. An operation ends at its first failure, so each exchange
    // but the last passed, and the last ended as the operation did.
    void record(Metrics& metrics, const std::optional<Error>& failure) const;

  private:
    protocol::Line& line_;
    std::chrono::steady_clock::time_point last_;
    std::vector<std::chrono::steady_clock::duration> took_;
};

// Runs an operation of the core that may make several exchanges, and records each of them.
template <class Call>
auto timed_exchanges(Metrics& metrics, protocol::Line& line, Call&& call) {
    ExchangeTimes times(line);
    auto outcome = call();
    times.record(metrics, outcome.ok() ? std::nullopt : std::optional<Error>(outcome.error()));
    return outcome;
}

}  // namespace qk42rt::server
