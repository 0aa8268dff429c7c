#include "cli.h"

#include <exception>
#include <optional>

#include "recording.h"

namespace qk42rt::cli {
namespace {

// The known subcommand of a command line, if any, for the hint after a usage error.
std::string known_command(const std::vector<std::string>& argv) {
    try {
        const CommandLine line = parse_command_line(argv);
        if (find_subcommand(line.command) != nullptr) return line.command;
    } catch (const UsageError&) {
    }
    return {};
}

}  // namespace

Plan make_plan(const std::vector<std::string>& argv) {
    Plan plan;
    plan.line = parse_command_line(argv);
    if (plan.line.version && !plan.line.help) return plan;
    if (plan.line.command.empty()) {
        if (plan.line.help) return plan;
        throw UsageError("no command given");
    }
    plan.subcommand = find_subcommand(plan.line.command);
    if (plan.subcommand == nullptr) {
        throw UsageError("unknown command '" + plan.line.command + "'");
    }
    if (plan.line.help) return plan;

    const Subcommand& subcommand = *plan.subcommand;
    const std::size_t words = plan.line.words.size();
    if (words < subcommand.min_words || words > subcommand.max_words) {
        std::string usage = std::string(subcommand.name);
        if (!subcommand.words.empty()) usage += " " + std::string(subcommand.words);
        throw UsageError("wrong number of arguments; usage: " + usage);
    }
    plan.prepared = subcommand.prepare(plan.line);
    if (plan.prepared.on_line) plan.device = chosen_device(plan.line);
    return plan;
}

int run(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err) {
    Plan plan;
    try {
        plan = make_plan(argv);
    } catch (const UsageError& error) {
        err << "qk42rt: " << error.what() << "\n";
        const std::string command = known_command(argv);
        err << "Try 'qk42rt " << (command.empty() ? "" : command + " ") << "--help'.\n";
        return kExitUsage;
    }
    if (plan.line.version && !plan.line.help) {
        out << "qk42rt " << QK42RT_VERSION << "\n";
        return kExitOk;
    }
    if (plan.line.help) {
        if (plan.subcommand != nullptr) {
            print_subcommand_help(out, *plan.subcommand);
        } else {
            print_global_help(out);
        }
        return kExitOk;
    }
    try {
        if (plan.prepared.standalone) return plan.prepared.standalone(out);
        std::optional<Recorder> recorder;  // --record: kept open until the command is done
        if (plan.line.record) recorder.emplace(*plan.line.record);
        Session session =
            Session::open(plan.device, plan.line.address, plan.line.json, out,
                          recorder ? recording_trace(*recorder) : protocol::TraceHook{});
        return plan.prepared.on_line(session);
    } catch (const InstrumentFailure& failure) {
        out.flush();
        err << "qk42rt: " << failure.what() << "\n";
        return kExitFailed;
    } catch (const std::exception& failure) {
        // For example no pseudo-terminal for the demo's simulator.
        out.flush();
        err << "qk42rt: " << failure.what() << "\n";
        return kExitFailed;
    }
}

}  // namespace qk42rt::cli
