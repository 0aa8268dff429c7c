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

namespace {

std::string json_string(const std::string& text) {
    std::string quoted = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
            quoted += escape;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

}  // namespace

std::string json_value(const Value& value) {
    struct Visitor {
        std::string operator()(std::nullptr_t) const { return "null"; }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(long long n) const { return std::to_string(n); }
        std::string operator()(float f) const {
            return std::isfinite(f) ? format_float(f) : "null";
        }
        std::string operator()(const std::string& s) const { return json_string(s); }
    };
    return std::visit(Visitor{}, value);
}

std::string text_value(const Value& value) {
    struct Visitor {
        std::string operator()(std::nullptr_t) const { return "-"; }
        std::string operator()(bool b) const { return b ? "on" : "off"; }
        std::string operator()(long long n) const { return std::to_string(n); }
        std::string operator()(float f) const { return format_float(f); }
        std::string operator()(const std::string& s) const { return s; }
    };
    return std::visit(Visitor{}, value);
}

std::string json_object(const Record& record) {
    std::string text = "{";
    for (const Field& field : record) {
        if (text.size() > 1) text += ',';
        text += json_string(field.name) + ':' + json_value(field.value);
    }
    return text + "}";
}

void print_record(std::ostream& out, const Record& record, bool json) {
    if (json) {
        out << json_object(record) << '\n';
        return;
    }
    std::size_t width = 0;
    for (const Field& field : record) width = std::max(width, field.name.size());
    for (const Field& field : record) {
        out << field.name << std::string(width - field.name.size() + 2, ' ')
            << text_value(field.value) << '\n';
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
