// How readings are shown: aligned "name value" lines for people, JSON for scripts.
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace qk42rt::cli {

using Value = std::variant<std::nullptr_t, bool, long long, float, std::string>;

struct Field {
    std::string name;
    Value value;
};
using Record = std::vector<Field>;

// The shortest text that reads back as the same float ("50.5", "0.1").
std::string format_float(float value);

// Bytes as "01 A5 23".
std::string hex_bytes(std::span<const std::uint8_t> bytes);

// A value as JSON (null for a float that JSON cannot carry) or as text for people.
std::string json_value(const Value& value);
std::string text_value(const Value& value);

// {"name":value,...} on one line.
std::string json_object(const Record& record);

// One reading: a JSON object, or one aligned "name  value" line per field.
void print_record(std::ostream& out, const Record& record, bool json);

// A table with a header row; columns padded to their widest cell.
void print_table(std::ostream& out, const std::vector<std::string>& header,
                 const std::vector<std::vector<std::string>>& rows);

}  // namespace qk42rt::cli
