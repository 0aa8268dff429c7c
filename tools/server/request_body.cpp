#include "request_body.h"

#include <cstdint>

#include "commands/words.h"

namespace qk42rt::server {

RequestBody::RequestBody(const std::string& text)
    : body_(nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false)) {
    if (body_.is_discarded()) {
        refuse("the body is not JSON");
    } else if (!body_.is_object()) {
        refuse("the body must be a JSON object");
    }
}

void RequestBody::refuse(const std::string& why) {
    if (error_.empty()) error_ = why;
}

const nlohmann::json* RequestBody::field(const char* name) {
    if (!ok()) return nullptr;
    const auto found = body_.find(name);
    if (found == body_.end()) {
        refuse(std::string("\"") + name + "\" is missing");
        return nullptr;
    }
    return &*found;
}

int RequestBody::integer(const char* name, commands::Limit limit) {
    const auto [low, high] = limit;
    const nlohmann::json* value = field(name);
    if (value == nullptr) return low;
    const std::string range = std::to_string(low) + " to " + std::to_string(high);
    if (!value->is_number_integer()) {
        refuse(std::string("\"") + name + "\" must be a whole number from " + range);
        return low;
    }
    // Beyond the widest signed integer is beyond every limit: no huge number wraps into range.
    const bool in_range = value->is_number_unsigned()
                              ? value->get<std::uint64_t>() <= std::uint64_t{INT64_MAX} &&
                                    limit.contains(value->get<std::int64_t>())
                              : limit.contains(value->get<std::int64_t>());
    if (!in_range) {
        refuse(std::string("\"") + name + "\" must be " + range + ", not " + value->dump());
        return low;
    }
    return static_cast<int>(value->get<std::int64_t>());
}

int RequestBody::integer_or(const char* name, commands::Limit limit, int fallback) {
    if (ok() && !body_.contains(name)) return fallback;
    return integer(name, limit);
}

float RequestBody::number(const char* name) {
    const nlohmann::json* value = field(name);
    if (value == nullptr) return 0.0f;
    if (!value->is_number()) {
        refuse(std::string("\"") + name + "\" must be a number");
        return 0.0f;
    }
    const double number = value->get<double>();
    if (!commands::finite_float(number)) {
        refuse(std::string("\"") + name + "\" must be a finite number a float holds, not " +
               value->dump());
        return 0.0f;
    }
    return static_cast<float>(number);
}

bool RequestBody::flag(const char* name) {
    const nlohmann::json* value = field(name);
    if (value == nullptr) return false;
    if (!value->is_boolean()) {
        refuse(std::string("\"") + name + "\" must be true or false");
        return false;
    }
    return value->get<bool>();
}

int RequestBody::word_or_integer(const char* name, commands::Limit limit) {
    const nlohmann::json* value = field(name);
    if (value == nullptr) return limit.low;
    if (value->is_string()) {
        if (const auto control = commands::integration_control(value->get<std::string>())) {
            return *control;
        }
        refuse(std::string("\"") + name + "\" must be one of " + commands::integration_words() +
               " or a whole number from " + std::to_string(limit.low) + " to " +
               std::to_string(limit.high));
        return limit.low;
    }
    return integer(name, limit);
}

}  // namespace qk42rt::server
