// `scan`: which addresses on the line answer, and with what version. Each address gets one
// version request; a silent one costs its reply time-out, so eight silent ones take about 4 s.
#include <iostream>

#include "commands/commands.h"
#include "scan_report.h"
#include "subcommands.h"

namespace qk42rt::cli {
namespace {

constexpr int kFirstAddress = 1;
constexpr int kLastAddress = 8;

std::vector<ScanAnswer> ask_every_address(Session& s) {
    std::vector<ScanAnswer> answers;
    for (int address = kFirstAddress; address <= kLastAddress; ++address) {
        const Outcome<commands::Version> outcome = commands::read_version(s.line(), address);
        if (outcome.ok()) {
            answers.push_back({address, outcome.value()});
            continue;
        }
        const std::string reason = describe(outcome.error());
        switch (judge(outcome.error())) {
            case Heard::silent:
                break;
            case Heard::not_instrument:
                std::cerr << "qk42rt: address " << address << " on " << s.device()
                          << " answers, but not as an instrument: " << reason << '\n';
                break;
            case Heard::line_failed:
                throw InstrumentFailure("scan stopped at address " + std::to_string(address) +
                                        " on " + s.device() + ": " + reason);
        }
    }
    return answers;
}

}  // namespace

Prepared prepare_scan(const CommandLine&) {
    return {[](Session& s) {
                std::cerr << "qk42rt: asking addresses " << kFirstAddress << " to " << kLastAddress
                          << " on " << s.device() << " (up to 4 s on a silent line)\n";
                const std::vector<ScanAnswer> answers = ask_every_address(s);
                if (s.json()) {
                    nlohmann::ordered_json list = nlohmann::ordered_json::array();
                    for (const ScanAnswer& answer : answers) list.push_back(answer_record(answer));
                    s.out() << json_text(list) << '\n';
                } else if (!answers.empty()) {
                    std::vector<std::vector<std::string>> rows;
                    for (const ScanAnswer& answer : answers) rows.push_back(answer_row(answer));
                    print_table(s.out(), scan_table_header(), rows);
                }
                if (answers.empty()) {
                    s.out().flush();
                    std::cerr << "qk42rt: no instrument answers on " << s.device()
                              << " at addresses " << kFirstAddress << " to " << kLastAddress
                              << '\n';
                    return 1;
                }
                return 0;
            },
            {}};
}

}  // namespace qk42rt::cli
