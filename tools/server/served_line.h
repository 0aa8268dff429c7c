// One served line: its worker (the line's one owner), the instruments found on it, the cache
// of what was read, its metrics and its poller. A line that hangs up or never opens affects
// nothing but itself.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "context.h"
#include "event_hub.h"
#include "instruments.h"
#include "line_worker.h"
#include "metrics.h"
#include "poller.h"
#include "reading_cache.h"
#include "serve_options.h"

namespace qk42rt::server {

class ServedLine {
  public:
    ServedLine(const LineOptions& options, std::shared_ptr<EventHub> hub,
               const std::atomic<bool>& stopping);
    ~ServedLine();  // stops polling, finishes the exchange in flight, closes the line
    ServedLine(const ServedLine&) = delete;
    ServedLine& operator=(const ServedLine&) = delete;

    // Waits a few seconds for the line, finds its instruments (those given, or those that
    // answer a version request) and starts polling them.
    void start();

    const LineOptions& options() const { return options_; }
    const std::string& name() const { return options_.name; }
    LineState state() const { return worker_.state(); }
    // Valid after start().
    Context& context() { return *context_; }
    const Instruments& instruments() const { return *instruments_; }
    const Metrics& metrics() const { return metrics_; }
    const ReadingCache& cache() const { return cache_; }

  private:
    const LineOptions options_;
    const std::atomic<bool>& stopping_;
    Metrics metrics_;
    ReadingCache cache_;
    LineWorker worker_;
    std::unique_ptr<Instruments> instruments_;
    std::unique_ptr<Context> context_;
    std::unique_ptr<Poller> poller_;  // stops before the worker goes
};

// Every served line, in the order configured; the first answers the routes without a line.
using ServedLines = std::vector<std::unique_ptr<ServedLine>>;

// The line of that name, or null.
ServedLine* find_line(const ServedLines& lines, std::string_view name);

}  // namespace qk42rt::server
