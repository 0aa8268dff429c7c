// The HTTP API (/api/v1): the route table, the instruments list, the line's state and the
// event stream, for each line under /api/v1/lines/NAME and for the first line without it;
// the list of lines; and /metrics and /healthz.
#pragma once

#include <atomic>

#include "router.h"
#include "served_line.h"

namespace qk42rt::server {

struct ApiScope {
    const ServedLines& lines;
    const std::atomic<bool>& stopping;  // ends the event streams
    bool read_only = false;
};

void add_api_routes(Router& router, const ApiScope& scope);

}  // namespace qk42rt::server
