#include "answer.h"

#include "host/status.h"
#include "protocol/text.h"

namespace qk42rt::server {

std::string Answer::text() const {
    return body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

Answer error_answer(int status, const std::string& error, const std::string& reason) {
    return {status, {{"error", error}, {"reason", reason}}};
}

Answer failure_answer(const Error& failure) {
    const qk42_status status = host::status_of(failure.why);
    const int http = status == QK42_NO_REPLY ? 504 : status == QK42_LINE_CLOSED ? 503 : 502;
    return error_answer(http, describe(failure), qk42_status_name(status));
}

Answer line_down_answer(const std::string& reason) {
    return error_answer(503, "the line is down: " + reason, "line_closed");
}

Answer no_route_answer(const std::string& method, const std::string& path,
                       const std::string& allow) {
    if (allow.empty()) return error_answer(404, "no such resource: " + path, "not_found");
    return error_answer(405, method + " is not allowed on " + path + "; use " + allow,
                        "method_not_allowed");
}

nlohmann::ordered_json float_json(float value) {
    const auto number = protocol::float_number(value);
    return number ? nlohmann::ordered_json(*number) : nlohmann::ordered_json(nullptr);
}

}  // namespace qk42rt::server
