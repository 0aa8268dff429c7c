#include "cli.h"

namespace qk42rt::cli {

Plan make_plan(const std::vector<std::string>& argv) {
    Plan plan;
    plan.line = parse_command_line(argv);
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
        const bool known = !plan.line.command.empty() && find_subcommand(plan.line.command);
        err << "Try 'qk42rt " << (known ? plan.line.command + " " : "") << "--help'.\n";
        return kExitUsage;
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
        Session session = Session::open(plan.device, plan.line.address, plan.line.json, out);
        return plan.prepared.on_line(session);
    } catch (const InstrumentFailure& failure) {
        out.flush();
        err << "qk42rt: " << failure.what() << "\n";
        return kExitFailed;
    }
}

}  // namespace qk42rt::cli
