#include "serve_config.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <vector>

#include "access.h"
#include "port/device_string.h"

namespace qk42rt::server {
namespace {

// A file larger than this is no configuration (and could be /dev/zero).
constexpr std::size_t kFileLimit = 1 << 20;

std::string_view type_name(toml::node_type type) {
    switch (type) {
        case toml::node_type::table:
            return "a table";
        case toml::node_type::array:
            return "an array";
        case toml::node_type::string:
            return "a string";
        case toml::node_type::integer:
            return "an integer";
        case toml::node_type::floating_point:
            return "a floating-point number";
        case toml::node_type::boolean:
            return "true or false";
        case toml::node_type::date:
            return "a date";
        case toml::node_type::time:
            return "a time";
        case toml::node_type::date_time:
            return "a date-time";
        case toml::node_type::none:
            break;
    }
    return "nothing";
}

// A value as the file gives it, control characters escaped so that a message stays one line.
std::string shown(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            constexpr char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::size_t line_of(const toml::node& node) {
    return node.source().begin.line;
}

struct Problem {
    std::size_t line;  // 0: the file as a whole
    std::string key;
    std::string message;
};

// Reads one file; every problem is kept, and the one nearest the top is told.
class ConfigReader {
  public:
    explicit ConfigReader(std::string path) : path_(std::move(path)) {}

    std::variant<ServeOptions, std::string> read();

  private:
    void refuse(std::size_t line, std::string key, std::string message) {
        problems_.push_back({line, std::move(key), std::move(message)});
    }
    std::string told(const Problem& problem) const;
    std::optional<std::string> first_problem() const;

    void no_unknown_keys(const toml::table& table, const std::string& where,
                         std::initializer_list<std::string_view> known);
    // The value of `key` in `table` when it is there and of the right type; a refusal when it
    // is there and is not.
    std::optional<std::string> text(const toml::table& table, const std::string& where,
                                    std::string_view key);
    std::optional<bool> flag(const toml::table& table, const std::string& where,
                             std::string_view key);
    std::optional<long long> integer(const toml::table& table, const std::string& where,
                                     std::string_view key);
    bool of_type(const toml::node& node, toml::node_type type, const std::string& key);

    void read_http(const toml::table& table);
    void read_mqtt(const toml::table& table);
    void read_line(const toml::table& table, std::size_t number);
    void read_addresses(const toml::node& node, const std::string& key, LineOptions& line);
    void no_line_twice();
    void check_files(const toml::table& root);

    std::string path_;
    std::vector<Problem> problems_;
    ServeOptions options_;
    std::vector<std::size_t> line_lines_;  // where each [[line]] starts, for later refusals
    std::vector<std::size_t> name_lines_;  // where each name is, or its [[line]]
};

std::string ConfigReader::told(const Problem& problem) const {
    std::string text = path_ + ":";
    if (problem.line > 0) text += std::to_string(problem.line) + ":";
    return text + " " + problem.key + ": " + problem.message;
}

std::optional<std::string> ConfigReader::first_problem() const {
    if (problems_.empty()) return std::nullopt;
    const auto first = std::min_element(
        problems_.begin(), problems_.end(), [](const Problem& a, const Problem& b) {
            // Whole-file problems after those with a place; otherwise in file order.
            return (a.line == 0 ? SIZE_MAX : a.line) < (b.line == 0 ? SIZE_MAX : b.line);
        });
    return told(*first);
}

void ConfigReader::no_unknown_keys(const toml::table& table, const std::string& where,
                                   std::initializer_list<std::string_view> known) {
    for (auto&& [key, value] : table) {
        if (std::find(known.begin(), known.end(), key.str()) != known.end()) continue;
        std::string expected;
        for (const std::string_view name : known) {
            if (!expected.empty()) expected += name == *(known.end() - 1) ? " or " : ", ";
            expected += name;
        }
        const std::string full =
            where.empty() ? std::string(key.str()) : where + "." + std::string(key.str());
        refuse(key.source().begin.line, full,
               "unknown key (" + (where.empty() ? std::string("the file") : where) + " takes " +
                   expected + ")");
    }
}

bool ConfigReader::of_type(const toml::node& node, toml::node_type type, const std::string& key) {
    if (node.type() == type) return true;
    refuse(line_of(node), key,
           "expected " + std::string(type_name(type)) + ", not " +
               std::string(type_name(node.type())));
    return false;
}

std::optional<std::string> ConfigReader::text(const toml::table& table, const std::string& where,
                                              std::string_view key) {
    const toml::node* node = table.get(key);
    const std::string full = where + "." + std::string(key);
    if (node == nullptr || !of_type(*node, toml::node_type::string, full)) return std::nullopt;
    const std::string& value = node->as_string()->get();
    if (value.empty()) {
        refuse(line_of(*node), full, "empty (leave the key out for its default)");
        return std::nullopt;
    }
    // TOML lets "\u0000" into a string; no path, name or topic may hold it.
    if (value.find('\0') != std::string::npos) {
        refuse(line_of(*node), full, shown(value) + " holds a NUL character");
        return std::nullopt;
    }
    return value;
}

std::optional<bool> ConfigReader::flag(const toml::table& table, const std::string& where,
                                       std::string_view key) {
    const toml::node* node = table.get(key);
    const std::string full = where + "." + std::string(key);
    if (node == nullptr || !of_type(*node, toml::node_type::boolean, full)) return std::nullopt;
    return node->as_boolean()->get();
}

std::optional<long long> ConfigReader::integer(const toml::table& table, const std::string& where,
                                               std::string_view key) {
    const toml::node* node = table.get(key);
    const std::string full = where + "." + std::string(key);
    if (node == nullptr || !of_type(*node, toml::node_type::integer, full)) return std::nullopt;
    return node->as_integer()->get();
}

void ConfigReader::read_http(const toml::table& table) {
    no_unknown_keys(table, "http", {"listen", "token_file", "read_only", "enabled"});
    HttpOptions& http = options_.http;
    if (const auto listen = text(table, "http", "listen")) {
        const auto parsed = parse_host_port(*listen, /*allow_port_zero=*/true);
        if (const auto* error = std::get_if<DeviceStringError>(&parsed)) {
            refuse(line_of(*table.get("listen")), "http.listen",
                   shown(*listen) + ": " + error->message);
        }
        http.listen = *listen;
    }
    if (const auto file = text(table, "http", "token_file")) http.token_file = *file;
    if (const auto read_only = flag(table, "http", "read_only")) options_.read_only = *read_only;
    if (const auto enabled = flag(table, "http", "enabled")) http.enabled = *enabled;
}

void ConfigReader::read_mqtt(const toml::table& table) {
    no_unknown_keys(table, "mqtt",
                    {"broker", "base", "client_id", "username", "password_file", "ca_file",
                     "cert_file", "key_file", "discovery", "insecure"});
    MqttOptions mqtt;
    const std::pair<std::string_view, std::string*> texts[] = {
        {"broker", &mqtt.broker},
        {"base", &mqtt.base},
        {"client_id", &mqtt.client_id},
        {"username", &mqtt.username},
        {"password_file", &mqtt.password_file},
        {"ca_file", &mqtt.ca_file},
        {"cert_file", &mqtt.cert_file},
        {"key_file", &mqtt.key_file}};
    for (const auto& [key, field] : texts) {
        if (const auto value = text(table, "mqtt", key)) *field = *value;
    }
    if (!table.contains("broker")) {
        refuse(line_of(table), "mqtt.broker",
               "missing (mqtt://HOST[:PORT] or mqtts://HOST[:PORT])");
    }
    if (const auto discovery = flag(table, "mqtt", "discovery")) mqtt.discovery = *discovery;
    if (const auto insecure = flag(table, "mqtt", "insecure")) mqtt.insecure = *insecure;
    options_.mqtt = mqtt;
}

void ConfigReader::read_addresses(const toml::node& node, const std::string& key,
                                  LineOptions& line) {
    if (!of_type(node, toml::node_type::array, key)) return;
    const toml::array& addresses = *node.as_array();
    if (addresses.empty()) {
        refuse(line_of(node), key, "empty (leave it out to serve those that answer at start)");
    }
    for (const toml::node& element : addresses) {
        if (!of_type(element, toml::node_type::integer, key)) continue;
        const long long address = element.as_integer()->get();
        if (!commands::limits::address.contains(address)) {
            refuse(line_of(element), key,
                   std::to_string(address) + " is no address (" +
                       std::to_string(commands::limits::address.low) + " to " +
                       std::to_string(commands::limits::address.high) + ")");
        } else if (std::find(line.addresses.begin(), line.addresses.end(), address) !=
                   line.addresses.end()) {
            refuse(line_of(element), key, std::to_string(address) + " is given twice");
        } else {
            line.addresses.push_back(static_cast<int>(address));
        }
    }
}

void ConfigReader::read_line(const toml::table& table, std::size_t number) {
    const std::string where = "line[" + std::to_string(number) + "]";
    no_unknown_keys(table, where, {"name", "device", "addresses", "poll_interval_ms"});
    LineOptions line;
    // Unnamed lines are line1, line2, ... by their place, as --name defaults to line1.
    line.name = "line" + std::to_string(number);
    name_lines_.push_back(line_of(table));
    if (const auto name = text(table, where, "name")) {
        if (!line_name_ok(*name)) {
            refuse(line_of(*table.get("name")), where + ".name",
                   shown(*name) + " is not a name (letters, digits, - and _)");
        }
        line.name = *name;
        name_lines_.back() = line_of(*table.get("name"));
    }
    if (const auto device = text(table, where, "device")) {
        const auto parsed = parse_device_string(*device);
        if (const auto* error = std::get_if<DeviceStringError>(&parsed)) {
            refuse(line_of(*table.get("device")), where + ".device", error->message);
        }
        line.device = *device;
    } else if (!table.contains("device")) {
        refuse(line_of(table), where + ".device",
               "missing (a serial device, tcp://HOST:PORT or rfc2217://HOST:PORT)");
    }
    if (const toml::node* addresses = table.get("addresses")) {
        read_addresses(*addresses, where + ".addresses", line);
    }
    if (const auto interval = integer(table, where, "poll_interval_ms")) {
        if (!kPollIntervalMs.contains(*interval)) {
            refuse(line_of(*table.get("poll_interval_ms")), where + ".poll_interval_ms",
                   std::to_string(*interval) + " is outside " +
                       std::to_string(kPollIntervalMs.low) + " to " +
                       std::to_string(kPollIntervalMs.high) + " ms");
        } else {
            line.poll_interval_ms = static_cast<int>(*interval);
        }
    }
    options_.lines.push_back(line);
    line_lines_.push_back(line_of(table));
}

// Two lines of one name could not be told apart; two on one device would fight over it.
void ConfigReader::no_line_twice() {
    const std::vector<LineOptions>& lines = options_.lines;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            const std::string other = "line[" + std::to_string(j + 1) + "]";
            const std::string here = "line[" + std::to_string(i + 1) + "]";
            if (lines[i].name == lines[j].name) {
                refuse(name_lines_[i], here + ".name",
                       shown(lines[i].name) + " is " + other + "'s name too");
            }
            if (!lines[i].device.empty() && lines[i].device == lines[j].device) {
                refuse(line_lines_[i], here + ".device",
                       shown(lines[i].device) + " is " + other + "'s device too");
            }
        }
    }
}

// What needs more than the file itself: the token and password files, the host name.
void ConfigReader::check_files(const toml::table& root) {
    const toml::table* http = root.get_as<toml::table>("http");
    const auto line_in = [](const toml::table* table, std::string_view key) -> std::size_t {
        if (table == nullptr) return 0;
        if (const toml::node* node = table->get(key)) return line_of(*node);
        return line_of(*table);
    };
    if (options_.http.enabled) {
        std::string error;
        if (!options_.http.token_file.empty() &&
            !read_token_file(options_.http.token_file, error)) {
            refuse(line_in(http, "token_file"), "http.token_file", error);
        }
        const auto listen = parse_host_port(options_.http.listen, /*allow_port_zero=*/true);
        const std::string host = std::get<HostPort>(listen).host;
        if (options_.http.token_file.empty() && !loopback_host(host)) {
            refuse(line_in(http, "listen"), "http.listen",
                   "listening on " + host +
                       " reaches beyond this machine: set token_file too (or listen on "
                       "127.0.0.1)");
        }
    }
    if (options_.mqtt) {
        if (const auto refusal = review_mqtt(*options_.mqtt)) {
            const toml::table* mqtt = root.get_as<toml::table>("mqtt");
            const std::string_view key = mqtt_key(refusal->setting);
            refuse(line_in(mqtt, key), "mqtt." + std::string(key), refusal->message);
        }
    }
    if (!options_.http.enabled && !options_.mqtt) {
        refuse(line_in(http, "enabled"), "http.enabled",
               "false, and no [mqtt]: nothing would serve the lines");
    }
}

std::variant<ServeOptions, std::string> ConfigReader::read() {
    std::error_code error_code;
    if (std::filesystem::is_directory(path_, error_code)) return path_ + ": is a directory";
    std::ifstream file(path_, std::ios::binary);
    if (!file) return path_ + ": cannot read: " + std::strerror(errno);
    std::string content(kFileLimit + 1, '\0');
    file.read(content.data(), static_cast<std::streamsize>(content.size()));
    if (file.bad()) return path_ + ": cannot read: " + std::strerror(errno);
    content.resize(static_cast<std::size_t>(file.gcount()));
    if (content.size() > kFileLimit) return path_ + ": larger than 1 MiB; no configuration is";

    toml::table root;
    try {
        root = toml::parse(std::string_view(content), std::string_view(path_));
    } catch (const toml::parse_error& error) {
        return path_ + ":" + std::to_string(error.source().begin.line) +
               ": malformed TOML: " + std::string(error.description());
    }

    no_unknown_keys(root, "", {"http", "mqtt", "line"});
    if (const toml::node* http = root.get("http");
        http && of_type(*http, toml::node_type::table, "http")) {
        read_http(*http->as_table());
    }
    if (const toml::node* mqtt = root.get("mqtt");
        mqtt && of_type(*mqtt, toml::node_type::table, "mqtt")) {
        read_mqtt(*mqtt->as_table());
    }
    const toml::node* lines = root.get("line");
    if (lines == nullptr) {
        refuse(0, "line", "no [[line]] table: name at least one line to serve");
    } else if (lines->is_table()) {
        refuse(line_of(*lines), "line", "expected [[line]] tables, not a single [line]");
    } else if (of_type(*lines, toml::node_type::array, "line")) {
        std::size_t number = 0;
        for (const toml::node& line : *lines->as_array()) {
            ++number;
            if (of_type(line, toml::node_type::table, "line[" + std::to_string(number) + "]")) {
                read_line(*line.as_table(), number);
            }
        }
        if (number == 0) refuse(line_of(*lines), "line", "empty: name at least one line to serve");
    }
    if (problems_.empty()) no_line_twice();
    if (problems_.empty()) check_files(root);
    if (const auto problem = first_problem()) return *problem;
    return options_;
}

}  // namespace

bool line_name_ok(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    });
}

std::variant<ServeOptions, std::string> read_serve_config(const std::string& path) {
    return ConfigReader(path).read();
}

}  // namespace qk42rt::server
