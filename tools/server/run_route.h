// Runs one route of the table for any front: checks the path's address and channel and the
// body's fields (nothing reaches the line otherwise), runs the route's operation as one job on
// the line worker, tells the cache what it found and makes the answer. Access (token,
// read-only) is the front's to decide before.
#pragma once

#include <string>

#include "answer.h"
#include "context.h"
#include "route_table.h"

namespace qk42rt::server {

struct RouteRequest {
    RouteParams params;
    std::string body;  // JSON text; not read by routes that take no body
};

Answer run_route(const Route& route, const RouteRequest& request, Context& context);

}  // namespace qk42rt::server
