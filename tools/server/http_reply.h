// Answers in JSON: values, and errors as {"error":"<one line>","reason":"<status name>"} with
// the HTTP status that fits their cause.
#pragma once

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <string>

#include "protocol/outcome.h"

namespace qk42rt::server {

void send_json(httplib::Response& response, const nlohmann::ordered_json& value, int status = 200);

// A float as JSON: the shortest decimal that reads back as the same float (43.67, not the
// 43.66999816894531 its widening to double would print).
nlohmann::ordered_json json_float(float value);

// `reason` is a status name of libqk42 ("bad_argument", "line_closed", ...) or one of the
// server's own ("unauthorized", "forbidden", "not_found", "method_not_allowed", "too_large").
void send_error(httplib::Response& response, int status, const std::string& error,
                const std::string& reason);

// A failed exchange: 504 when the instrument did not answer in time, 503 when the line went
// away, 502 for any other failed reply.
void send_failure(httplib::Response& response, const Error& failure);

// The line is down: 503 with the reason.
void send_line_down(httplib::Response& response, const std::string& reason);

}  // namespace qk42rt::server
