#include "output.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "protocol/text.h"

namespace qk42rt::cli {

std::string format_float(float value) {
    return protocol::float_text(value);
}

std::string hex_bytes(std::span<const std::uint8_t> bytes) {
    return protocol::hex_bytes(bytes);
}

nlohmann::ordered_json float_value(float value) {
    // Not finite: kept as such, so that JSON shows null and people see format_float()'s text.
    return protocol::float_number(value).value_or(static_cast<double>(value));
}

namespace {

// A number as text: finite ones as the shortest text that reads back as the same double (a
// float's value comes in through float_value() already shortest), the others as floats are.
std::string number_text(double value) {
    if (!std::isfinite(value)) return protocol::float_text(static_cast<float>(value));
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

void write_json(std::string& out, const nlohmann::ordered_json& value) {
    using Kind = nlohmann::ordered_json::value_t;
    switch (value.type()) {
        case Kind::object: {
            out += '{';
            for (auto item = value.begin(); item != value.end(); ++item) {
                if (item != value.begin()) out += ',';
                write_json(out, item.key());
                out += ':';
                write_json(out, item.value());
            }
            out += '}';
            return;
        }
        case Kind::array: {
            out += '[';
            for (auto item = value.begin(); item != value.end(); ++item) {
                if (item != value.begin()) out += ',';
                write_json(out, *item);
            }
            out += ']';
            return;
        }
        case Kind::number_float: {
            const double number = value.get<double>();
            out += std::isfinite(number) ? number_text(number) : "null";
            return;
        }
        default:
            // Text from the system (a USB adapter's product name) need not be UTF-8.
            out += value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
            return;
    }
}

}  // namespace

std::string json_text(const nlohmann::ordered_json& value) {
    std::string text;
    write_json(text, value);
    return text;
}

std::string text_value(const nlohmann::ordered_json& value) {
    switch (value.type()) {
        case nlohmann::ordered_json::value_t::null:
            return "-";
        case nlohmann::ordered_json::value_t::boolean:
            return value.get<bool>() ? "on" : "off";
        case nlohmann::ordered_json::value_t::string:
            return value.get<std::string>();
        case nlohmann::ordered_json::value_t::number_float:
            return number_text(value.get<double>());
        default:
            return json_text(value);
    }
}

std::string json_object(const Record& record) {
    return json_text(record);
}

void print_record(std::ostream& out, const Record& record, bool json) {
    if (json) {
        out << json_object(record) << '\n';
        return;
    }
    std::size_t width = 0;
    for (const auto& [name, value] : record.items()) width = std::max(width, name.size());
    for (const auto& [name, value] : record.items()) {
        out << name << std::string(width - name.size() + 2, ' ') << text_value(value) << '\n';
    }
}

void print_table(std::ostream& out, const std::vector<std::string>& header,
                 const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths(header.size());
    for (std::size_t c = 0; c < header.size(); ++c) widths[c] = header[c].size();
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    auto print_row = [&](const std::vector<std::string>& cells) {
        for (std::size_t c = 0; c < cells.size() && c < widths.size(); ++c) {
            if (c > 0) out << "  ";
            // Right-aligned, so that numbers line up.
            out << std::string(widths[c] - cells[c].size(), ' ') << cells[c];
        }
        out << '\n';
    };
    print_row(header);
    for (const auto& row : rows) print_row(row);
}

}  // namespace qk42rt::cli
