// The table of subcommands, and the help that CLI11 gives from them, laid out as the client's.
#include <CLI/CLI.hpp>
#include <array>
#include <cstdint>

#include "subcommands.h"

namespace qk42rt::cli {
namespace {

constexpr std::size_t kAny = SIZE_MAX;

// What each command's help shows before its name. ports and decode open no line, sniff needs a
// device, scan goes through every address itself, and serve takes several.
constexpr std::string_view kOnLine = "(--device PATH | --port N) [--address A] [--json]";
constexpr std::string_view kJsonOnly = "[--json]";
constexpr std::string_view kSniff = "--device DEVICE [--json]";
constexpr std::string_view kScan = "(--device PATH | --port N) [--json]";
constexpr std::string_view kServe = "(--device DEVICE | --port N) [--address A]...";
constexpr std::string_view kDemo = "(--device PATH | --port N) [--address A]";

#ifdef _WIN32
constexpr const char* kSniffHelp =
    "Not available on Windows: its relay gives the host a pseudo-terminal, which Windows does\n"
    "not have. Run it on Linux, where a host under Wine can use it too.\n";
constexpr const char* kDemoHelp =
    "Starts the simulator qk42rt-sim.exe on loopback TCP (127.0.0.1, a free port) and runs\n"
    "every operation against it; needs no --device.\n";
#else
constexpr const char* kSniffHelp =
    "Opens --device with the library's line settings, makes a pseudo-terminal for the host with\n"
    "a symbolic link at PATH (for a host under Wine: the target of dosdevices/comN), and passes\n"
    "every byte both ways at once, unchanged. Prints \"slave: PTY\", then one line per\n"
    "exchange: time (UTC), request -> reply, the reply's latency, what the library makes of\n"
    "it, and \"!!\" before anything wrong: no reply within 500 ms, short reply, wrong\n"
    "acknowledge, bytes that belong to no exchange, a late reply. \"event: line opened\" and\n"
    "\"event: line hung up\" tell when the host opens and closes its side.\n"
    "--record FILE appends every exchange to FILE as a JSON line, for qk42rt-sim --replay;\n"
    "--json prints JSON lines. Ctrl-C (SIGINT, SIGTERM) ends it with a summary on stderr:\n"
    "exchanges, trouble by kind, reply latency median and maximum; exit status 0. When the\n"
    "device goes away it says so and exits with status 1.\n";
constexpr const char* kDemoHelp =
    "Starts the simulator qk42rt-sim on a pseudo-terminal and runs every operation against it;\n"
    "needs no --device.\n";
#endif

// A plain array, so that adding a command changes no count.
const Subcommand kSubcommands[] = {
    {"status", kOnLine, "", "flow, setpoint, maximum flow, unit and status of all eight channels",
     "", 0, 0, prepare_status},
    {"flow", kOnLine, "CH", "read the flow of a channel (-1 when the instrument flags it invalid)",
     "", 1, 1, prepare_flow},
    {"setpoint", kOnLine, "CH [VALUE]", "read the setpoint of a channel, or set it to VALUE", "", 1,
     2, prepare_setpoint},
    {"maxflow", kOnLine, "CH [VALUE [CODE]]", "read the maximum flow of a channel, or set it",
     "CODE (0 to 4, default 0) is sent with the maximum flow; its meaning is the "
     "instrument's.\n",
     1, 3, prepare_maxflow},
    {"unit", kOnLine, "CH [UNIT]", "read the unit (1 to 4) of a channel, or set it", "", 1, 2,
     prepare_unit},
    {"intflow", kOnLine, "CH", "read the integrated flow of a channel",
     "Shows the 4 bytes as received and, beside them, read as a little-endian count.\n", 1, 1,
     prepare_intflow},
    {"inttime", kOnLine, "", "read the integration time of the instrument",
     "Shows the 4 bytes as received and, beside them, read as a little-endian count.\n", 0, 0,
     prepare_inttime},
    {"integration", kOnLine, "CODE",
     "send an integration control code: start, stop, reset or 0 to 127",
     "start, stop and reset are the codes 1, 2 and 3, as the simulator qk42rt-sim "
     "understands them;\nany other code 0 to 127 is sent as given.\n",
     1, 1, prepare_integration},
    {"ratio-total", kOnLine, "[CH VALUE CH2 CH3]", "read the ratio/total configuration, or set it",
     "CH, CH2 and CH3 are channels 1 to 8, VALUE is 0 to 255.\n", 0, 4, prepare_ratio_total},
    {"ratio-mode", kOnLine, "MODE", "switch the ratio/total mode (0, 1 or 2)", "", 1, 1,
     prepare_ratio_mode},
    {"onoff", kOnLine, "[STATE]", "read the on/off state (0 to 255), or set it",
     "Bit N-1 of the state stands for channel N on the simulator: 3 switches channels 1 and 2 "
     "on.\nSTATE may be written in hexadecimal, for example 0xFF.\n",
     0, 1, prepare_onoff},
    {"version", kOnLine, "", "read the version, kind letter and info bytes", "", 0, 0,
     prepare_version},
    {"display", kOnLine, "FLAG1 FLAG2", "set the two display flags (on/off each)", "", 2, 2,
     prepare_display},
    {"keylock", kOnLine, "on|off", "lock or unlock the instrument's keys", "", 1, 1,
     prepare_keylock},
    {"monitor", kOnLine, "[CH...] [--interval MS] [--count N] [--csv] [--no-reconnect]",
     "read flows every interval until Ctrl-C or --count",
     "Channels default to all eight, the interval to 1000 ms. On a terminal the readings are a\n"
     "live table; when the output is not a terminal, or with --csv, they are CSV lines with a\n"
     "UTC time stamp and the seconds since the start (--json: one JSON object per line).\n"
     "A failed reading leaves its cells empty, is reported on stderr, and makes the exit "
     "status 1.\n"
     "When the line goes away (the device hangs up, a device server drops the connection),\n"
     "monitor says so once on stderr, keeps its schedule with empty rows, opens the same\n"
     "device again every second and says when it is back; --no-reconnect stops with exit\n"
     "status 1 instead.\n",
     0, kAny, prepare_monitor},
    {"ports", kJsonOnly, "[--all]", "list this machine's serial ports, opening none of them",
     "One line each: the device, its links under /dev/serial/by-id and by-path, the driver,\n"
     "and for USB adapters the vendor and product ids, serial number, manufacturer and\n"
     "product, and the latency timer where the driver has one (high above 1 ms: each short\n"
     "reply waits that long). Legacy ports the kernel keeps with no UART behind them (their\n"
     "UART type in sysfs reads 0, as for most unused ttyS ports) are left out; --all lists\n"
     "them too. Needs no --device.\n",
     0, 0, prepare_ports},
    {"scan", kScan, "", "ask addresses 1 to 8 for their version and list those that answer",
     "Sends one version request to each address; a silent address costs its 500 ms reply\n"
     "time-out, so a line where nobody answers takes about 4 s. An address that answers\n"
     "other than an instrument does is reported on stderr and not listed. Ignores\n"
     "--address. Exit status 1 when no address answers.\n",
     0, 0, prepare_scan},
    {"decode", kJsonOnly, "[REQUEST [-> REPLY]]",
     "decode exchanges given in hexadecimal as the library reads them",
     "REQUEST and REPLY are bytes in hexadecimal (8E 00 04 00 00 00 3F -> 0E): one exchange on\n"
     "the command line, or one a line on standard input (blank lines and lines starting with #\n"
     "are skipped; the JSON lines of a --record recording are read too). Prints the request as\n"
     "its operation and arguments and the reply as the library makes of it: the operation is\n"
     "run on those reply bytes. Malformed input is named, never guessed at. --json: one object\n"
     "per exchange. Needs no --device. Exit status: 0 when every exchange decoded as valid, 1\n"
     "when any was malformed or its reply failed, 2 on a usage error.\n",
     0, kAny, prepare_decode},
    {"sniff", kSniff, "--link PATH [--record FILE]",
     "relay a host's line to the device and decode every exchange on the way", kSniffHelp, 0, 0,
     prepare_sniff},
    {"demo", kDemo, "", "run every operation against a simulated instrument, showing the bytes",
     kDemoHelp, 0, 0, prepare_demo},
    {"serve", kServe,
     "[--listen HOST:PORT] [--token-file FILE] [--read-only] [--poll-interval MS] [--name NAME] "
     "[--mqtt URL ...]",
     "serve the instruments over HTTP: JSON API, live page, Prometheus metrics",
     "One process owns the line; any number of programs, browsers and Prometheus share the\n"
     "instruments through it. --address A (repeatable) names the instruments to serve; without\n"
     "it, the addresses that answer a version request at start (at least 1). --listen defaults\n"
     "to 127.0.0.1:8042; beyond loopback --token-file is required. With a token file, writes\n"
     "need \"Authorization: Bearer TOKEN\" (and beyond loopback reads too). --read-only lets no\n"
     "write reach the instrument. --poll-interval (default 1000 ms) is how often every served\n"
     "channel's flow is read for the page, the event stream and the metrics. Runs until\n"
     "SIGINT or SIGTERM; opens the line again every second while it is down.\n"
     "\n"
     "--name NAME names the line (letters, digits, - and _; default line1). --mqtt URL serves\n"
     "the instruments over MQTT too: mqtt://HOST[:PORT] (port 1883) or mqtts://HOST[:PORT]\n"
     "(TLS, port 8883); plain mqtt:// reaches beyond this machine only with --mqtt-insecure.\n"
     "--mqtt-base TOPIC is the topics' root (default qk42/ and the host name); --mqtt-username\n"
     "NAME and --mqtt-password-file FILE (its first line; readable by its owner only) log in;\n"
     "--mqtt-ca-file FILE is the authority the broker's certificate must come from;\n"
     "--mqtt-discovery announces the instruments to Home Assistant.\n"
     "\n"
     "qk42rt serve --config FILE [--read-only] serves several lines from a TOML file: its\n"
     "[[line]] tables (name, device, addresses, poll_interval_ms), [http] and [mqtt]. The file\n"
     "then holds what --device, --port, --address, --name, --poll-interval, --listen,\n"
     "--token-file and the --mqtt options give, and none of them goes with --config. A file\n"
     "with anything wrong in it is refused, naming its line and key, before any line opens.\n",
     0, 0, prepare_serve},
};

}  // namespace

std::span<const Subcommand> subcommands() {
    return kSubcommands;
}

const Subcommand* find_subcommand(std::string_view name) {
    for (const Subcommand& subcommand : kSubcommands) {
        if (subcommand.name == name) return &subcommand;
    }
    return nullptr;
}

const std::string_view kClientDescription =
    "Reads and controls a QK42 flow instrument on a serial line (9600 8N1).";

const std::string_view kClientFooter =
    "Channels are 1 to 8. Values that cannot be sent as typed are refused.\n"
    "Exit status: 0 success, 1 the instrument or the port failed, 2 usage error.\n\n"
    "Examples:\n"
    "  qk42rt --device /dev/ttyUSB0 status\n"
    "  qk42rt --port 1 --address 2 setpoint 3 50.5\n"
    "  qk42rt --device /dev/ttyUSB0 --json flow 2\n"
    "  qk42rt --device /dev/ttyUSB0 monitor 1 2 --interval 500 --count 10 --csv\n"
    "  qk42rt ports\n"
    "  qk42rt --device /dev/ttyUSB0 scan\n"
    "  qk42rt --device tcp://192.168.1.50:4001 serve --listen 127.0.0.1:8042\n";

namespace {

constexpr std::string_view kClientUsage =
    "Usage: qk42rt (--device DEVICE | --port N) [--address A] [--json] COMMAND [ARGS]\n"
    "       qk42rt [--json] ports [--all]\n"
    "       qk42rt --device DEVICE serve [--address A]... [--listen HOST:PORT] ...\n"
    "       qk42rt serve --config FILE [--read-only]\n"
    "       qk42rt --device DEVICE sniff --link PATH [--record FILE] [--json]\n"
    "       qk42rt [--json] decode [REQUEST [-> REPLY]]\n"
    "       qk42rt demo\n"
    "       qk42rt COMMAND --help\n";

// Text padded to `width`, and at least `gap` spaces after it.
std::string padded(const std::string& text, std::size_t width, std::size_t gap) {
    return text + std::string(text.size() + gap > width ? gap : width - text.size(), ' ');
}

// "  --device DEVICE  the line: ...", later lines of the description under its first.
std::string option_line(const CLI::Option& option) {
    constexpr std::size_t kNameWidth = 15;
    std::string names;
    for (const std::string& name : option.get_lnames())
        names += (names.empty() ? "--" : ", --") + name;
    for (const std::string& name : option.get_snames())
        names += (names.empty() ? "-" : ", -") + name;
    if (option.get_items_expected_max() > 0) names += " " + option.get_type_name();
    std::string description = option.get_description();
    for (auto at = description.find('\n'); at != std::string::npos;
         at = description.find('\n', at + 1)) {
        description.insert(at + 1, std::string(2 + kNameWidth, ' '));
    }
    return "  " + padded(names, kNameWidth, 2) + description + "\n";
}

// "  flow CH                   read the flow of a channel ..."
std::string command_line(const CLI::App& command) {
    const Subcommand* subcommand = find_subcommand(command.get_name());
    std::string left = command.get_name();
    // monitor's words are mostly its options: too long for the list.
    if (subcommand != nullptr && !subcommand->words.empty() && subcommand->name != "monitor") {
        left += ' ';
        left += subcommand->words;
    }
    return "  " + padded(left, 26, 1) + command.get_description() + "\n";
}

class HelpFormatter : public CLI::FormatterBase {
  public:
    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode) const override {
        return app->get_parent() == nullptr ? client_help(*app) : command_help(*app);
    }

  private:
    static std::string client_help(const CLI::App& app) {
        std::string text =
            std::string(kClientUsage) + "\n" + app.get_description() + "\n\nOptions:\n";
        for (const CLI::Option* option : app.get_options()) {
            if (option->nonpositional()) text += option_line(*option);
        }
        text += "\nCommands:\n";
        for (const CLI::App* command : app.get_subcommands({})) {
            if (!command->get_name().empty()) text += command_line(*command);  // not a group
        }
        return text + "\n" + app.get_footer();
    }

    static std::string command_help(const CLI::App& command) {
        const Subcommand* subcommand = find_subcommand(command.get_name());
        std::string text = "Usage: qk42rt ";
        if (subcommand != nullptr) text += std::string(subcommand->usage) + " ";
        text += command.get_name();
        if (subcommand != nullptr && !subcommand->words.empty()) {
            text += ' ';
            text += subcommand->words;
        }
        text += "\n\n" + command.get_description() + ".\n";
        if (!command.get_footer().empty()) text += "\n" + command.get_footer();
        return text;
    }
};

}  // namespace

std::shared_ptr<CLI::FormatterBase> help_formatter() {
    return std::make_shared<HelpFormatter>();
}

void print_global_help(std::ostream& out) {
    CommandLine unused;
    out << make_app(unused)->help();
}

void print_subcommand_help(std::ostream& out, const Subcommand& subcommand) {
    CommandLine unused;
    out << make_app(unused)->get_subcommand(std::string(subcommand.name))->help();
}

}  // namespace qk42rt::cli
