#include "output.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace qk42rt::cli {

std::string format_float(float value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string hex_bytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (std::uint8_t byte : bytes) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X", static_cast<unsigned>(byte));
        if (!text.empty()) text += ' ';
        text += two;
    }
    return text;
}

nlohmann::ordered_json float_value(float value) {
    if (!std::isfinite(value)) return static_cast<double>(value);
    // Through the shortest text, so that 0.1f is the double 0.1 and not 0.10000000149011612.
    double shown = 0.0;
    const std::string text = format_float(value);
    std::from_chars(text.data(), text.data() + text.size(), shown);
    return shown;
}

namespace {

std::string number_text(double value) {
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
            return number_text(value.get<double>());  // "nan" and "inf" as format_float()
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
