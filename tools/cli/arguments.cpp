#include "arguments.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <variant>

#include "port/device_string.h"
#include "port/open_port.h"

namespace qk42rt::cli {
namespace {

std::string quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

// Parses a whole word as an integer: decimal, or hexadecimal after 0x.
std::optional<long long> whole_integer(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return negative ? -value : value;
}

// The value of an option: the text after '=' or the next word.
std::string option_value(const std::vector<std::string>& argv, std::size_t& i,
                         std::string_view name, const std::optional<std::string>& inline_value) {
    if (inline_value) return *inline_value;
    if (i + 1 >= argv.size()) throw UsageError(std::string(name) + " needs a value");
    return argv[++i];
}

}  // namespace

int parse_int(std::string_view text, int low, int high, std::string_view what) {
    const std::optional<long long> value = whole_integer(text);
    if (!value)
        throw UsageError(std::string(what) + " must be a whole number, not " + quoted(text));
    if (*value < low || *value > high) {
        throw UsageError(std::string(what) + " must be " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not " + quoted(text));
    }
    return static_cast<int>(*value);
}

float parse_float(std::string_view text, std::string_view what) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    float value = 0.0f;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size() ||
        !std::isfinite(value)) {
        throw UsageError(std::string(what) + " must be a finite number, not " + quoted(text));
    }
    return value;
}

bool parse_flag(std::string_view text, std::string_view what) {
    if (text == "on" || text == "1" || text == "true" || text == "yes") return true;
    if (text == "off" || text == "0" || text == "false" || text == "no") return false;
    throw UsageError(std::string(what) + " must be on or off, not " + quoted(text));
}

CommandLine parse_command_line(const std::vector<std::string>& argv) {
    CommandLine line;
    bool options_ended = false;
    auto add_word = [&line](const std::string& word) {
        if (line.command.empty()) {
            line.command = word;
        } else {
            line.words.push_back(word);
        }
    };
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string& word = argv[i];
        if (options_ended || word.size() < 2 || word[0] != '-' ||
            (word[1] != '-' && word != "-h")) {
            add_word(word);
            continue;
        }
        if (word == "--") {
            options_ended = true;
            continue;
        }
        std::string name = word;
        std::optional<std::string> inline_value;
        if (const auto equals = word.find('='); equals != std::string::npos) {
            name = word.substr(0, equals);
            inline_value = word.substr(equals + 1);
        }
        const bool is_switch = name == "--help" || name == "-h" || name == "--json" ||
                               name == "--csv" || name == "--all" || name == "--read-only" ||
                               name == "--no-reconnect";
        if (is_switch && inline_value) throw UsageError(name + " takes no value");
        if (name == "--help" || name == "-h") {
            line.help = true;
        } else if (name == "--json") {
            line.json = true;
        } else if (name == "--all") {
            line.all = true;
        } else if (name == "--csv") {
            line.monitor.csv = true;
            line.monitor_options_given = true;
        } else if (name == "--no-reconnect") {
            line.monitor.reconnect = false;
            line.monitor_options_given = true;
        } else if (name == "--device") {
            line.device = option_value(argv, i, name, inline_value);
            if (line.device->empty())
                throw UsageError("--device needs a path, tcp://HOST:PORT or rfc2217://HOST:PORT");
            const auto parsed = parse_device_string(*line.device);
            if (const auto* error = std::get_if<DeviceStringError>(&parsed)) {
                throw UsageError(error->message);
            }
        } else if (name == "--record") {
            line.record = option_value(argv, i, name, inline_value);
            if (line.record->empty()) throw UsageError("--record needs a file");
        } else if (name == "--link") {
            line.link = option_value(argv, i, name, inline_value);
            if (line.link.empty()) throw UsageError("--link needs a path");
        } else if (name == "--port") {
            line.port = parse_int(option_value(argv, i, name, inline_value), 1, 256, "--port");
        } else if (name == "--address") {
            line.address = parse_int(option_value(argv, i, name, inline_value), 1, 8, "--address");
            line.addresses.push_back(line.address);
        } else if (name == "--listen") {
            line.serve.listen = option_value(argv, i, name, inline_value);
            line.serve_options_given = true;
        } else if (name == "--token-file") {
            line.serve.token_file = option_value(argv, i, name, inline_value);
            if (line.serve.token_file.empty()) throw UsageError("--token-file needs a file");
            line.serve_options_given = true;
        } else if (name == "--read-only") {
            line.serve.read_only = true;
            line.serve_options_given = true;
        } else if (name == "--poll-interval") {
            line.serve.poll_interval_ms = parse_int(option_value(argv, i, name, inline_value), 50,
                                                    3'600'000, "--poll-interval");
            line.serve_options_given = true;
        } else if (name == "--interval") {
            line.monitor.interval_ms =
                parse_int(option_value(argv, i, name, inline_value), 0, 3'600'000, "--interval");
            line.monitor_options_given = true;
        } else if (name == "--count") {
            line.monitor.count = parse_int(option_value(argv, i, name, inline_value), 1,
                                           std::numeric_limits<int>::max(), "--count");
            line.monitor_options_given = true;
        } else {
            throw UsageError("unknown option " + quoted(word));
        }
    }
    if (line.device && line.port) throw UsageError("give either --device or --port, not both");
    if (line.monitor_options_given && !line.help && line.command != "monitor") {
        throw UsageError(
            "--interval, --count, --csv and --no-reconnect belong to the monitor command");
    }
    if (line.serve_options_given && !line.help && line.command != "serve") {
        throw UsageError(
            "--listen, --token-file, --read-only and --poll-interval belong to the serve command");
    }
    if (!line.link.empty() && !line.help && line.command != "sniff") {
        throw UsageError("--link belongs to the sniff command");
    }
    if (line.record && !line.help &&
        (line.command == "decode" || line.command == "ports" || line.command == "demo")) {
        throw UsageError("--record records exchanges on a line; " + line.command + " has none");
    }
    if (line.all && !line.help && line.command != "ports") {
        throw UsageError("--all belongs to the ports command");
    }
    return line;
}

std::string chosen_device(const CommandLine& line) {
    if (line.device) return *line.device;
    if (line.port) return device_for_port(*line.port);
    throw UsageError("choose the line with --device PATH or --port N");
}

}  // namespace qk42rt::cli
