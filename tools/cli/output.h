// How readings are shown: aligned "name value" lines for people, JSON for scripts.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace qk42rt::cli {

// One reading or confirmation: a JSON object whose fields keep the order they were put in.
using Record = nlohmann::ordered_json;

// The shortest text that reads back as the same float ("50.5", "0.1").
std::string format_float(float value);

// A float as a value of a Record: a number that prints as format_float() does, or, when it is
// not finite, one that JSON shows as null and people as format_float() does ("nan").
nlohmann::ordered_json float_value(float value);

// Bytes as "01 A5 23".
std::string hex_bytes(std::span<const std::uint8_t> bytes);

// A value on one line as JSON: nlohmann/json's compact form, except that a number with a
// fraction is the shortest text that reads back as the same number, in the form std::to_chars
// chooses ("50.5", "250", "1e+10"), where nlohmann/json would print 250.0 and 10000000000.0;
// null when it is not finite.
std::string json_text(const nlohmann::ordered_json& value);

// A value as text for people: "-" for null, on/off for a truth value.
std::string text_value(const nlohmann::ordered_json& value);

// {"name":value,...} on one line.
std::string json_object(const Record& record);

// One reading: a JSON object, or one aligned "name  value" line per field.
void print_record(std::ostream& out, const Record& record, bool json);

// A table with a header row; columns padded to their widest cell.
void print_table(std::ostream& out, const std::vector<std::string>& header,
                 const std::vector<std::vector<std::string>>& rows);

}  // namespace qk42rt::cli
