// The HTTP API (/api/v1): the route table under /api/v1, the instruments list and the event
// stream; and /metrics and /healthz.
#pragma once

#include "context.h"
#include "router.h"

namespace qk42rt::server {

void add_api_routes(Router& router, Context& context);

}  // namespace qk42rt::server
