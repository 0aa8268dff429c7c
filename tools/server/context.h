// What the server's routes run against: the line's worker, and what they tell of their results
// (the cache of readings, the metrics, the instruments' versions).
#pragma once

#include <atomic>

#include "instruments.h"
#include "line_worker.h"
#include "metrics.h"
#include "reading_cache.h"

namespace qk42rt::server {

struct Context {
    LineWorker& worker;
    ReadingCache& cache;
    Metrics& metrics;
    Instruments& instruments;
    const std::atomic<bool>& stopping;  // ends the event streams
};

}  // namespace qk42rt::server
