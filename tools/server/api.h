// The HTTP API (/api/v1), /metrics and /healthz: each handler checks its path and body, runs
// its exchanges as one job on the line worker and answers JSON.
#pragma once

#include <atomic>
#include <nlohmann/json.hpp>

#include "instruments.h"
#include "line_worker.h"
#include "metrics.h"
#include "reading_cache.h"
#include "router.h"

namespace qk42rt::server {

struct Context {
    LineWorker& worker;
    ReadingCache& cache;
    Metrics& metrics;
    Instruments& instruments;
    const std::atomic<bool>& stopping;  // ends the event streams
};

void add_api_routes(Router& router, Context& context);

// The JSON of a version as the instruments list and /version give it.
nlohmann::ordered_json version_json(int address, const commands::Version& version);

}  // namespace qk42rt::server
