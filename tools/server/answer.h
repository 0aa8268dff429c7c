// What the server answers, whichever front asked: a status code in HTTP's terms and a JSON
// body. Errors are {"error":"<one line>","reason":"<status name>"}.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "protocol/outcome.h"

namespace qk42rt::server {

struct Answer {
    int status = 200;
    // Keys in the order written, as the API documents them.
    nlohmann::ordered_json body;

    // The body as sent. Text that is not UTF-8 (a version text is three bytes as the
    // instrument sent them) is replaced, not thrown.
    std::string text() const;
};

// `reason` is a status name of libqk42 ("bad_argument", "line_closed", ...) or one of the
// server's own ("unauthorized", "forbidden", "not_found", "method_not_allowed", "too_large").
Answer error_answer(int status, const std::string& error, const std::string& reason);

// A failed exchange: 504 when the instrument did not answer in time, 503 when the line went
// away, 502 for any other failed reply.
Answer failure_answer(const Error& failure);

// The line is down: 503 with the reason.
Answer line_down_answer(const std::string& reason);

// No route has this path (404), or none takes this method on it (405; `allow` lists those
// that do, as "GET, PUT").
Answer no_route_answer(const std::string& method, const std::string& path,
                       const std::string& allow);

// A float as JSON: the shortest number that is the same float (43.67, not the
// 43.66999816894531 its widening to double would print); null when it is not finite.
nlohmann::ordered_json float_json(float value);

}  // namespace qk42rt::server
