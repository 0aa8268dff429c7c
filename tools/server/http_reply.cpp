#include "http_reply.h"

namespace qk42rt::server {

void send(httplib::Response& response, const Answer& answer) {
    response.status = answer.status;
    response.set_content(answer.text(), "application/json");
}

void send_json(httplib::Response& response, const nlohmann::ordered_json& value, int status) {
    send(response, Answer{status, value});
}

void send_error(httplib::Response& response, int status, const std::string& error,
                const std::string& reason) {
    send(response, error_answer(status, error, reason));
}

}  // namespace qk42rt::server
