// The client's subcommands: their names, help, and how each checks its words before the
// line is opened (so that a refused value never reaches the instrument).
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.h"
#include "output.h"
#include "session.h"

namespace CLI {
class FormatterBase;
}

namespace qk42rt::cli {

// What a prepared subcommand does: on an open line to the instrument, or on its own (the
// demo). Each returns the exit status.
struct Prepared {
    std::function<int(Session&)> on_line;
    std::function<int(std::ostream&)> standalone;
};

struct Subcommand {
    std::string_view name;
    std::string_view usage;    // the options before the name in its help's usage line
    std::string_view words;    // "CH [VALUE]"
    std::string_view summary;  // one line for the global help
    std::string_view details;  // more lines for the subcommand's own help
    std::size_t min_words;
    std::size_t max_words;  // SIZE_MAX: any number
    Prepared (*prepare)(const CommandLine& line);
};

std::span<const Subcommand> subcommands();
const Subcommand* find_subcommand(std::string_view name);

// The client's help, above and below the options and commands that CLI11 lists.
extern const std::string_view kClientDescription;
extern const std::string_view kClientFooter;

// Lays out the help of make_app()'s App and of its subcommands as the client always has.
std::shared_ptr<CLI::FormatterBase> help_formatter();

void print_global_help(std::ostream& out);
void print_subcommand_help(std::ostream& out, const Subcommand& subcommand);

// The prepare functions, one per subcommand, grouped by the files that hold them.
Prepared prepare_flow(const CommandLine& line);
Prepared prepare_setpoint(const CommandLine& line);
Prepared prepare_maxflow(const CommandLine& line);
Prepared prepare_unit(const CommandLine& line);
Prepared prepare_intflow(const CommandLine& line);
Prepared prepare_inttime(const CommandLine& line);
Prepared prepare_integration(const CommandLine& line);
Prepared prepare_ratio_total(const CommandLine& line);
Prepared prepare_ratio_mode(const CommandLine& line);
Prepared prepare_onoff(const CommandLine& line);
Prepared prepare_version(const CommandLine& line);
Prepared prepare_display(const CommandLine& line);
Prepared prepare_keylock(const CommandLine& line);
Prepared prepare_status(const CommandLine& line);
Prepared prepare_monitor(const CommandLine& line);
Prepared prepare_ports(const CommandLine& line);
Prepared prepare_scan(const CommandLine& line);
Prepared prepare_demo(const CommandLine& line);
Prepared prepare_decode(const CommandLine& line);
Prepared prepare_sniff(const CommandLine& line);
Prepared prepare_serve(const CommandLine& line);

// Shared by the subcommand files.
int parse_channel(std::string_view text);
// Prints a confirmation of a write: `text` for people, `record` plus "ok":true as JSON.
void report_done(Session& session, const std::string& text, const Record& record);
// The 4 bytes of an integrated flow or time as received, and as a little-endian count.
Record four_bytes_record(const commands::FourBytes& bytes);

}  // namespace qk42rt::cli
