// The fields of a JSON request body, each checked for its type and range before anything is
// sent to the instrument. A refusal says which field and what was expected.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "commands/limits.h"

namespace qk42rt::server {

class RequestBody {
  public:
    // Parses `text`; ok() is false for anything but a JSON object.
    explicit RequestBody(const std::string& text);

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }  // the first refusal

    // A whole number within `limit`.
    int integer(const char* name, commands::Limit limit);
    int integer_or(const char* name, commands::Limit limit, int fallback);
    // A finite number that a float holds.
    float number(const char* name);
    bool flag(const char* name);
    // An integration control word (start, stop, reset), giving its code, or a whole number
    // within `limit`.
    int word_or_integer(const char* name, commands::Limit limit);

  private:
    const nlohmann::json* field(const char* name);
    void refuse(const std::string& why);

    nlohmann::json body_;
    std::string error_;
};

}  // namespace qk42rt::server
