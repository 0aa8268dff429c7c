// Reading the command line: global options, the subcommand and its words, and the numbers
// a user types. CLI11 reads the options and the subcommand; the values are checked here, in
// the client's own words. Nothing here touches the line; a bad argument is a UsageError
// (exit 2).
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "commands/limits.h"

namespace CLI {
class App;
}

namespace qk42rt::cli {

// A command line that cannot be carried out as typed.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct MonitorOptions {
    int interval_ms = 1000;
    long long count = 0;  // 0: until interrupted
    bool csv = false;
    bool reconnect = true;  // open the line again when it goes away, instead of stopping
};

// `serve`'s own options; see tools/server/serve_options.h.
struct ServeFlags {
    std::string config;  // --config FILE: the lines, HTTP and MQTT from a file instead
    std::string name = "line1";
    std::string listen = "127.0.0.1:8042";
    std::string token_file;
    bool read_only = false;
    int poll_interval_ms = 1000;
    std::string mqtt;  // --mqtt URL; empty: no MQTT
    std::string mqtt_base;
    std::string mqtt_username;
    std::string mqtt_password_file;
    std::string mqtt_ca_file;
    bool mqtt_discovery = false;
    bool mqtt_insecure = false;
};

struct CommandLine {
    std::optional<std::string> device;  // --device PATH
    std::optional<int> port;            // --port N
    int address = 1;                    // --address A
    std::vector<int> addresses;         // every --address given, for serve
    bool json = false;
    bool help = false;
    bool version = false;            // --version: print it and do nothing else
    std::string command;             // the subcommand, empty when none was given
    std::vector<std::string> words;  // what follows the subcommand
    MonitorOptions monitor;
    bool monitor_options_given = false;
    bool all = false;                   // --all: ports lists unused legacy ports too
    std::optional<std::string> record;  // --record FILE: every exchange as a JSON line
    std::string link;                   // --link PATH: sniff's pseudo-terminal for the host
    ServeFlags serve;
    bool serve_options_given = false;
};

// Splits argv (without the program name). Options may stand before or after the subcommand;
// "--" ends them, so that a word like "-1.5" is never mistaken for one.
CommandLine parse_command_line(const std::vector<std::string>& argv);

// The client's command line as CLI11 sees it: the global options, each command's own options
// in an option group named after the command, and the subcommands of subcommands() with their
// words. Each value is checked as it is read, into `line`. Its help is the client's help.
std::unique_ptr<CLI::App> make_app(CommandLine& line);

// The device the user chose: --device as given, or the library's name for --port N.
std::string chosen_device(const CommandLine& line);

// Numbers as users type them. `what` names the value in the message of a refusal.
int parse_int(std::string_view text, int low, int high, std::string_view what);
int parse_int(std::string_view text, commands::Limit limit, std::string_view what);
float parse_float(std::string_view text, std::string_view what);  // finite values only
bool parse_flag(std::string_view text, std::string_view what);    // on/off, 1/0, true/false

}  // namespace qk42rt::cli
