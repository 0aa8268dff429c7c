#include "scan_report.h"

#include <cstdio>

#include "commands/words.h"

namespace qk42rt::cli {

Heard judge(const Error& error) {
    switch (error.why) {
        case Failure::no_reply:
            return Heard::silent;
        case Failure::short_reply:
        case Failure::wrong_ack:
        case Failure::unknown_kind:
            return Heard::not_instrument;
        default:
            return Heard::line_failed;
    }
}

std::string shown_version_text(const std::array<char, 3>& text) {
    std::string shown;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0) break;  // a NUL ends the text, as the version number reads it
        if (byte >= 0x20 && byte < 0x7F) {
            shown += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(byte));
            shown += escaped;
        }
    }
    return shown;
}

Record answer_record(const ScanAnswer& answer) {
    return {{"address", answer.address},
            {"version", shown_version_text(answer.version.text)},
            {"kind", commands::kind_text(answer.version.kind)},
            {"info1", answer.version.info1},
            {"info2", answer.version.info2}};
}

std::vector<std::string> scan_table_header() {
    return {"address", "version", "kind", "info1", "info2"};
}

std::vector<std::string> answer_row(const ScanAnswer& answer) {
    std::vector<std::string> row;
    const Record record = answer_record(answer);
    for (const auto& [name, value] : record.items()) {
        row.push_back(text_value(value));
    }
    return row;
}

}  // namespace qk42rt::cli
