#include "http_reply.h"

#include <charconv>
#include <cmath>

#include "host/status.h"

namespace qk42rt::server {

nlohmann::ordered_json json_float(float value) {
    if (!std::isfinite(value)) return nullptr;
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value);
    double shortest = 0.0;
    std::from_chars(text, written.ptr, shortest);
    return shortest;
}

void send_json(httplib::Response& response, const nlohmann::ordered_json& value, int status) {
    // Replacement, not an exception, for text that is not UTF-8 (a version text is three
    // bytes as the instrument sent them).
    response.status = status;
    response.set_content(
        value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace),
        "application/json");
}

void send_error(httplib::Response& response, int status, const std::string& error,
                const std::string& reason) {
    send_json(response, {{"error", error}, {"reason", reason}}, status);
}

void send_failure(httplib::Response& response, const Error& failure) {
    const qk42_status status = host::status_of(failure.why);
    const int http = status == QK42_NO_REPLY ? 504 : status == QK42_LINE_CLOSED ? 503 : 502;
    send_error(response, http, describe(failure), qk42_status_name(status));
}

void send_line_down(httplib::Response& response, const std::string& reason) {
    send_error(response, 503, "the line is down: " + reason, "line_closed");
}

}  // namespace qk42rt::server
