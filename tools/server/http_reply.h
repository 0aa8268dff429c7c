// Answers sent over HTTP: the JSON body with its status code.
#pragma once

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <string>

#include "answer.h"

namespace qk42rt::server {

void send(httplib::Response& response, const Answer& answer);

void send_json(httplib::Response& response, const nlohmann::ordered_json& value, int status = 200);

void send_error(httplib::Response& response, int status, const std::string& error,
                const std::string& reason);

}  // namespace qk42rt::server
