#include "arguments.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <system_error>
#include <variant>

#include "port/device_string.h"
#include "port/open_port.h"
#include "serve_config.h"
#include "subcommands.h"

namespace qk42rt::cli {
namespace {

std::string in_quotes(std::string_view text) {
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

// Words that CLI11 would read otherwise than this client always has. CLI11 takes any "-x" for
// a short option, "++" for the end of a command's words and "[a,b]" for a list; here -h is the
// only short option and all the others are words: "->" between the bytes of a decode exchange,
// "-.5" as a setpoint. They reach CLI11 behind a NUL, which no word of a real command line can
// start with, and lose it again when they are read.
constexpr char kWordMark = '\0';

bool misread_by_cli11(const std::string& word) {
    if (word == "++") return true;
    if (word.size() >= 2 && word.front() == '[' && word.back() == ']') return true;
    return word.size() >= 2 && word[0] == '-' && word[1] != '-' && word != "-h";
}

std::string as_typed(std::string word) {
    if (!word.empty() && word.front() == kWordMark) word.erase(0, 1);
    return word;
}

// argv before any "--", ready for CLI11. Two readings of CLI11 differ from the client's, and
// are settled here: "--opt=" gives the option an empty value (CLI11 would take the next word
// instead), and a switch given "=VALUE" is refused (CLI11 would read a truth value).
std::vector<std::string> for_cli11(const CLI::App& app, const std::vector<std::string>& words) {
    std::vector<std::string> args;
    for (const std::string& word : words) {
        if (misread_by_cli11(word)) {
            args.push_back(kWordMark + word);
            continue;
        }
        if (word.size() > 2 && word.starts_with("--")) {
            const char first = word[2];
            // CLI11 reads these as words; here every word that starts with -- is an option.
            if (first == '-' || first == '!' || first == ' ' || first == '\n')
                throw UsageError("unknown option " + in_quotes(word));
            const auto equals = word.find('=');
            const CLI::Option* option = equals == std::string::npos
                                            ? nullptr
                                            : app.get_option_no_throw(word.substr(0, equals));
            if (option != nullptr && option->get_items_expected_max() == 0)
                throw UsageError(word.substr(0, equals) + " takes no value");
            if (option != nullptr && equals + 1 == word.size()) {
                args.push_back(word.substr(0, equals));
                args.emplace_back();
                continue;
            }
        }
        args.push_back(word);
    }
    return args;
}

// "--a, --b and --c belong to the X command", for a command's option group.
std::string belongs_to(const CLI::App& group) {
    const std::vector<const CLI::Option*> options = group.get_options();
    std::string names;
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (i > 0) names += i + 1 == options.size() ? " and " : ", ";
        names += options[i]->get_name();
    }
    return names + (options.size() == 1 ? " belongs" : " belong") + " to the " + group.get_group() +
           " command";
}

constexpr int kMaxMilliseconds = 3'600'000;

// A value option that runs `read` on each value as typed.
CLI::Option* value_option(CLI::App& app, const std::string& name, const std::string& type,
                          const std::string& description,
                          std::function<void(const std::string&)> read) {
    return app.add_option(name, description)
        ->type_name(type)
        ->each([read = std::move(read)](const std::string& value) { read(as_typed(value)); });
}

void add_global_options(CLI::App& app, CommandLine& line) {
    value_option(
        app, "--device", "DEVICE",
        "the line: a serial device (/dev/ttyUSB0, a simulator's pty),\n"
        "tcp://HOST:PORT or rfc2217://HOST:PORT (a serial device server)",
        [&line](const std::string& value) {
            if (value.empty())
                throw UsageError("--device needs a path, tcp://HOST:PORT or rfc2217://HOST:PORT");
            const auto parsed = parse_device_string(value);
            if (const auto* error = std::get_if<DeviceStringError>(&parsed))
                throw UsageError(error->message);
            line.device = value;
        });
    value_option(
        app, "--port", "N", "the library's port number N (COM N; /dev/ttyS(N-1) on Linux)",
        [&line](const std::string& value) { line.port = parse_int(value, 1, 256, "--port"); });
    value_option(app, "--address", "A", "the instrument's address on the line, 1 to 8 (default 1)",
                 [&line](const std::string& value) {
                     line.address = parse_int(value, commands::limits::address, "--address");
                     line.addresses.push_back(line.address);  // serve takes every one
                 })
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_flag("--json", line.json, "print readings as JSON");
    value_option(app, "--record", "FILE",
                 "append every exchange on the line to FILE as a JSON line, for\n"
                 "qk42rt-sim --replay (the commands, monitor and sniff)",
                 [&line](const std::string& value) {
                     if (value.empty()) throw UsageError("--record needs a file");
                     line.record = value;
                 });
    app.add_flag("--help,-h", line.help, "this help, or a command's help after the command");
    app.add_flag("--version", line.version, "the program's version");
}

// A value option for a file, a name or a topic, which cannot be empty.
void text_option(CLI::App& app, const std::string& name, const std::string& type,
                 std::string& field, const std::string& what) {
    value_option(app, name, type, "", [&field, name, what](const std::string& value) {
        if (value.empty()) throw UsageError(name + " needs " + what);
        field = value;
    });
}

// serve's configuration file, its line's name and MQTT: a group of their own, so that the
// refusal of the first group's options with another command reads as it always has.
void add_serve_line_options(CLI::App& app, CommandLine& line) {
    CLI::Option_group& serve = *app.add_option_group("serve");
    text_option(serve, "--config", "FILE", line.serve.config, "a file");
    value_option(serve, "--name", "NAME", "", [&line](const std::string& value) {
        if (!server::line_name_ok(value)) {
            throw UsageError("--name must be letters, digits, - and _, not " + in_quotes(value));
        }
        line.serve.name = value;
    });
    value_option(serve, "--mqtt", "URL", "", [&line](const std::string& value) {
        const auto broker = server::parse_mqtt_broker(value);
        if (const auto* error = std::get_if<std::string>(&broker)) {
            throw UsageError("--mqtt: " + *error);
        }
        line.serve.mqtt = value;
    });
    text_option(serve, "--mqtt-base", "TOPIC", line.serve.mqtt_base, "a topic");
    serve.add_flag("--mqtt-discovery", line.serve.mqtt_discovery);
    text_option(serve, "--mqtt-username", "NAME", line.serve.mqtt_username, "a name");
    text_option(serve, "--mqtt-password-file", "FILE", line.serve.mqtt_password_file, "a file");
    text_option(serve, "--mqtt-ca-file", "FILE", line.serve.mqtt_ca_file, "a file");
    serve.add_flag("--mqtt-insecure", line.serve.mqtt_insecure);
}

// With --config the file holds the lines, where HTTP listens and MQTT: given here as well,
// one of the two would go unused.
void refuse_beside_config(const CLI::App& app) {
    struct InFile {
        const char* option;
        const char* key;
    };
    static constexpr InFile kInFile[] = {
        {"--device", "[[line]] device"},
        {"--port", "[[line]] device"},
        {"--address", "[[line]] addresses"},
        {"--name", "[[line]] name"},
        {"--poll-interval", "[[line]] poll_interval_ms"},
        {"--listen", "[http] listen"},
        {"--token-file", "[http] token_file"},
        {"--mqtt", "[mqtt] broker"},
        {"--mqtt-base", "[mqtt] base"},
        {"--mqtt-discovery", "[mqtt] discovery"},
        {"--mqtt-username", "[mqtt] username"},
        {"--mqtt-password-file", "[mqtt] password_file"},
        {"--mqtt-ca-file", "[mqtt] ca_file"},
        {"--mqtt-insecure", "[mqtt] insecure"},
    };
    for (const InFile& given : kInFile) {
        if (app.get_option(given.option)->count() > 0) {
            throw UsageError(std::string(given.option) +
                             " does not go with --config: the configuration file holds it (" +
                             given.key + ")");
        }
    }
}

void refuse_mqtt_options_alone(const CLI::App& app, const CommandLine& line) {
    if (!line.serve.mqtt.empty()) return;
    for (const char* option : {"--mqtt-base", "--mqtt-discovery", "--mqtt-username",
                               "--mqtt-password-file", "--mqtt-ca-file", "--mqtt-insecure"}) {
        if (app.get_option(option)->count() > 0) {
            throw UsageError(std::string(option) + " needs --mqtt URL");
        }
    }
}

// Each command's own options, in a group named after it. They are read wherever they stand,
// as the global ones are; parse_command_line() refuses them with any other command.
void add_command_options(CLI::App& app, CommandLine& line) {
    CLI::Option_group& monitor = *app.add_option_group("monitor");
    value_option(monitor, "--interval", "MS", "", [&line](const std::string& value) {
        line.monitor.interval_ms = parse_int(value, 0, kMaxMilliseconds, "--interval");
    });
    value_option(monitor, "--count", "N", "", [&line](const std::string& value) {
        line.monitor.count = parse_int(value, 1, std::numeric_limits<int>::max(), "--count");
    });
    monitor.add_flag("--csv", line.monitor.csv);
    monitor.add_flag_callback("--no-reconnect", [&line] { line.monitor.reconnect = false; });

    CLI::Option_group& serve = *app.add_option_group("serve");
    value_option(serve, "--listen", "HOST:PORT", "",
                 [&line](const std::string& value) { line.serve.listen = value; });
    value_option(serve, "--token-file", "FILE", "", [&line](const std::string& value) {
        if (value.empty()) throw UsageError("--token-file needs a file");
        line.serve.token_file = value;
    });
    serve.add_flag("--read-only", line.serve.read_only);
    value_option(serve, "--poll-interval", "MS", "", [&line](const std::string& value) {
        line.serve.poll_interval_ms = parse_int(value, server::kPollIntervalMs, "--poll-interval");
    });
    add_serve_line_options(app, line);

    CLI::Option_group& sniff = *app.add_option_group("sniff");
    value_option(sniff, "--link", "PATH", "", [&line](const std::string& value) {
        if (value.empty()) throw UsageError("--link needs a path");
        line.link = value;
    });

    CLI::Option_group& ports = *app.add_option_group("ports");
    ports.add_flag("--all", line.all);
}

// The words of a command (or, before any known command, the words where one should be).
CLI::Option* add_words(CLI::App& app, const std::string& name) {
    return app.add_option(name)->expected(0, -1)->allow_extra_args();
}

std::vector<std::string> words_of(const CLI::App& app, const std::string& name) {
    std::vector<std::string> words;
    for (const std::string& word : app.get_option(name)->results()) words.push_back(as_typed(word));
    return words;
}

}  // namespace

int parse_int(std::string_view text, int low, int high, std::string_view what) {
    const std::optional<long long> value = whole_integer(text);
    if (!value)
        throw UsageError(std::string(what) + " must be a whole number, not " + in_quotes(text));
    if (*value < low || *value > high) {
        throw UsageError(std::string(what) + " must be " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not " + in_quotes(text));
    }
    return static_cast<int>(*value);
}

int parse_int(std::string_view text, commands::Limit limit, std::string_view what) {
    return parse_int(text, limit.low, limit.high, what);
}

float parse_float(std::string_view text, std::string_view what) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    float value = 0.0f;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size() ||
        !std::isfinite(value)) {
        throw UsageError(std::string(what) + " must be a finite number, not " + in_quotes(text));
    }
    return value;
}

bool parse_flag(std::string_view text, std::string_view what) {
    if (text == "on" || text == "1" || text == "true" || text == "yes") return true;
    if (text == "off" || text == "0" || text == "false" || text == "no") return false;
    throw UsageError(std::string(what) + " must be on or off, not " + in_quotes(text));
}

std::unique_ptr<CLI::App> make_app(CommandLine& line) {
    auto app = std::make_unique<CLI::App>(std::string(kClientDescription), "qk42rt");
    app->formatter(help_formatter());  // before the subcommands, which take it over
    app->footer(std::string(kClientFooter));
    // Help is a plain switch, looked at once the line is read: "COMMAND --help" shows that
    // command's help without checking its words.
    app->set_help_flag();
    app->fallthrough();             // options may follow the command
    app->require_subcommand(0, 1);  // a word after the command that names one is a word
    app->allow_extras();            // unknown options are named by parse_command_line()
    app->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    add_global_options(*app, line);
    add_command_options(*app, line);
    add_words(*app, "COMMAND");
    for (const Subcommand& subcommand : subcommands()) {
        CLI::App& command =
            *app->add_subcommand(std::string(subcommand.name), std::string(subcommand.summary));
        command.footer(std::string(subcommand.details));
        add_words(command, "WORDS");
    }
    return app;
}

CommandLine parse_command_line(const std::vector<std::string>& argv) {
    // After "--" every word is a word. CLI11 would hand the words after it back to the top
    // level as soon as the command has the fewest it needs, so they never reach CLI11.
    const auto dashes = std::find(argv.begin(), argv.end(), "--");
    const std::vector<std::string> before(argv.begin(), dashes);
    std::vector<std::string> after;
    if (dashes != argv.end()) after.assign(dashes + 1, argv.end());

    CommandLine line;
    const std::unique_ptr<CLI::App> app = make_app(line);
    std::vector<std::string> args = for_cli11(*app, before);
    std::reverse(args.begin(), args.end());  // CLI11 takes them from the back
    try {
        app->parse(args);
    } catch (const CLI::ArgumentMismatch& error) {
        // An option without its value can only be the last word before "--" or the end.
        if (!before.empty() && before.back().starts_with("--"))
            throw UsageError(before.back() + " needs a value");
        throw UsageError(error.what());
    } catch (const CLI::ParseError& error) {
        throw UsageError(error.what());
    }
    if (const std::vector<std::string> unknown = app->remaining(); !unknown.empty()) {
        throw UsageError("unknown option " + in_quotes(unknown.front()));
    }

    // An unknown command is the first word before any known one; a known one brings its words.
    // An empty word where the command should be is passed over, as an empty command was.
    const auto without_empty_command = [](std::vector<std::string> words) {
        const auto first = std::find_if(words.begin(), words.end(),
                                        [](const std::string& word) { return !word.empty(); });
        words.erase(words.begin(), first);
        return words;
    };
    std::vector<std::string> words = without_empty_command(words_of(*app, "COMMAND"));
    if (const std::vector<CLI::App*> chosen = app->get_subcommands();
        words.empty() && !chosen.empty()) {
        words = words_of(*chosen.front(), "WORDS");
        words.insert(words.begin(), chosen.front()->get_name());
    }
    words.insert(words.end(), after.begin(), after.end());
    words = without_empty_command(std::move(words));
    if (!words.empty()) {
        line.command = words.front();
        line.words.assign(words.begin() + 1, words.end());
    }

    if (line.device && line.port) throw UsageError("give either --device or --port, not both");
    const CLI::App& parsed = *app;
    for (const CLI::App* group : parsed.get_subcommands(
             [](const CLI::App* command) { return command->get_name().empty(); })) {
        const bool given = group->count_all() > 0;
        if (group->get_group() == "monitor") line.monitor_options_given = given;
        if (group->get_group() == "serve") line.serve_options_given |= given;
        if (given && !line.help && line.command != group->get_group()) {
            throw UsageError(belongs_to(*group));
        }
    }
    if (!line.help && line.command == "serve") {
        if (!line.serve.config.empty()) refuse_beside_config(parsed);
        refuse_mqtt_options_alone(parsed, line);
    }
    if (line.record && !line.help &&
        (line.command == "decode" || line.command == "ports" || line.command == "demo")) {
        throw UsageError("--record records exchanges on a line; " + line.command + " has none");
    }
    return line;
}

std::string chosen_device(const CommandLine& line) {
    if (line.device) return *line.device;
    if (line.port) return device_for_port(*line.port);
    throw UsageError("choose the line with --device PATH or --port N");
}

}  // namespace qk42rt::cli
