#include "request_body.h"

#include <cfloat>
#include <cmath>

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

int RequestBody::integer(const char* name, int low, int high) {
    const nlohmann::json* value = field(name);
    if (value == nullptr) return low;
    const std::string range = std::to_string(low) + " to " + std::to_string(high);
    if (!value->is_number_integer()) {
        refuse(std::string("\"") + name + "\" must be a whole number from " + range);
        return low;
    }
    // Compared in the widest integer of its kind, so that no huge number wraps into range.
    bool in_range = false;
    if (value->is_number_unsigned()) {
        const std::uint64_t number = value->get<std::uint64_t>();
        in_range = high >= 0 && number <= static_cast<std::uint64_t>(high) &&
                   (low <= 0 || number >= static_cast<std::uint64_t>(low));
    } else {
        const std::int64_t number = value->get<std::int64_t>();
        in_range = number >= low && number <= high;
    }
    if (!in_range) {
        refuse(std::string("\"") + name + "\" must be " + range + ", not " + value->dump());
        return low;
    }
    return static_cast<int>(value->get<std::int64_t>());
}

int RequestBody::integer_or(const char* name, int low, int high, int fallback) {
    if (ok() && !body_.contains(name)) return fallback;
    return integer(name, low, high);
}

float RequestBody::number(const char* name) {
    const nlohmann::json* value = field(name);
    if (value == nullptr) return 0.0f;
    if (!value->is_number()) {
        refuse(std::string("\"") + name + "\" must be a number");
        return 0.0f;
    }
    const double number = value->get<double>();
    if (!std::isfinite(number) || std::fabs(number) > FLT_MAX) {
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

int RequestBody::word_or_integer(const char* name,
                                 const std::initializer_list<std::pair<const char*, int>>& words,
                                 int low, int high) {
    const nlohmann::json* value = field(name);
    if (value == nullptr) return low;
    if (value->is_string()) {
        for (const auto& [word, meaning] : words) {
            if (value->get<std::string>() == word) return meaning;
        }
        std::string known;
        for (const auto& [word, meaning] : words)
            known += std::string(known.empty() ? "" : ", ") + word;
        refuse(std::string("\"") + name + "\" must be one of " + known +
               " or a whole number from " + std::to_string(low) + " to " + std::to_string(high));
        return low;
    }
    return integer(name, low, high);
}

}  // namespace qk42rt::server
