// The fields of a JSON request body, each checked for its type and range before anything is
// sent to the instrument. A refusal says which field and what was expected.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace qk42rt::server {

class RequestBody {
  public:
    // Parses `text`; ok() is false for anything but a JSON object.
    explicit RequestBody(const std::string& text);

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }  // the first refusal

    // A whole number from `low` to `high`.
    int integer(const char* name, int low, int high);
    int integer_or(const char* name, int low, int high, int fallback);
    // A finite number that a float holds.
    float number(const char* name);
    bool flag(const char* name);
    // A whole number in range, or one of the words, giving the word's value.
    int word_or_integer(const char* name,
                        const std::initializer_list<std::pair<const char*, int>>& words, int low,
                        int high);

  private:
    const nlohmann::json* field(const char* name);
    void refuse(const std::string& why);

    nlohmann::json body_;
    std::string error_;
};

}  // namespace qk42rt::server
