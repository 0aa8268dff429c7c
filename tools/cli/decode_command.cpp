// `decode`: exchanges given in hexadecimal, shown as the library reads them.
#include <iostream>
#include <optional>
#include <string>

#include "decode.h"
#include "recording.h"
#include "subcommands.h"

namespace qk42rt::cli {
namespace {

struct Input {
    std::optional<wire::Bytes> request;
    std::optional<wire::Bytes> reply;
    std::string error;  // the input is not an exchange
};

// "REQUEST [-> REPLY]", or a line of a recording.
Input read_exchange(const std::string& text) {
    Input input;
    const auto first = text.find_first_not_of(" \t\r");
    if (first != std::string::npos && text[first] == '{') {
        const auto recorded = parse_record_line(text, input.error);
        if (recorded) {
            input.request = recorded->request;
            input.reply = recorded->reply;
        }
        return input;
    }
    const auto arrow = text.find("->");
    if (arrow != std::string::npos && text.find("->", arrow + 2) != std::string::npos) {
        input.error = "more than one '->'";
        return input;
    }
    input.request = parse_hex(text.substr(0, arrow), input.error);
    if (!input.request) {
        if (input.error == "not hex bytes: '-'") {
            input.error += " (an unquoted '->' is a redirection to the shell: quote the exchange)";
        }
        return input;
    }
    if (input.request->empty()) {
        input.request.reset();
        input.error = "no request bytes before '->'";
        return input;
    }
    if (arrow != std::string::npos) {
        input.reply = parse_hex(text.substr(arrow + 2), input.error);
        if (!input.reply) input.request.reset();
    }
    return input;
}

// Prints one exchange; false when it was not a valid one.
bool show(std::ostream& out, const std::string& text, bool json) {
    const Input input = read_exchange(text);
    if (!input.request) {
        if (json) {
            out << nlohmann::json{{"input", text}, {"valid", false}, {"problems", {input.error}}}
                       .dump()
                << '\n';
        } else {
            out << "malformed input '" << text << "': " << input.error << '\n';
        }
        return false;
    }
    const wire::Decoded decoded = wire::decode_exchange(*input.request, input.reply);
    out << (json ? decoded.json.dump() : wire::decoded_line(decoded)) << '\n';
    return decoded.valid;
}

bool skipped(const std::string& line) {
    const auto first = line.find_first_not_of(" \t\r");
    return first == std::string::npos || line[first] == '#';
}

}  // namespace

Prepared prepare_decode(const CommandLine& line) {
    std::string words;
    for (const std::string& word : line.words) words += (words.empty() ? "" : " ") + word;
    const bool json = line.json;
    return {{}, [words, json](std::ostream& out) {
                bool all_valid = true;
                if (!words.empty()) {
                    all_valid = show(out, words, json);
                } else {
                    for (std::string text; std::getline(std::cin, text);) {
                        if (skipped(text)) continue;
                        if (!text.empty() && text.back() == '\r') text.pop_back();
                        all_valid = show(out, text, json) && all_valid;
                        out.flush();  // one answer per line, for a program feeding lines
                    }
                }
                return all_valid ? 0 : 1;
            }};
}

}  // namespace qk42rt::cli
