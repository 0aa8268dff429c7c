#include "report.h"

#include <cstdio>
#include <ctime>
#include <fstream>

#include "machine.h"

namespace qk42rt::bench {
namespace {

std::string table(const Row& header, const std::vector<Row>& rows) {
    const auto line = [](const Row& cells) {
        std::string text = "|";
        for (const auto& cell : cells) text += " " + cell + " |";
        return text + "\n";
    };
    std::string text = line(header) + "|";
    for (std::size_t i = 0; i < header.size(); ++i) text += "---|";
    text += "\n";
    for (const auto& row : rows) text += line(row);
    return text;
}

}  // namespace

void Report::target(const std::string& figure, const std::string& measured, const std::string& goal,
                    bool met) {
    targets_.push_back({figure, measured, goal, met ? "PASS" : "**FAIL**"});
    all_met_ = all_met_ && met;
}

void Report::figure(const std::string& figure, const std::string& measured,
                    const std::string& why) {
    targets_.push_back({figure, measured, why, "-"});
}

void Report::section(const std::string& heading, const std::string& note, const Row& header,
                     const std::vector<Row>& rows) {
    details_ += "\n### " + heading + "\n\n";
    if (!note.empty()) details_ += note + "\n\n";
    details_ += table(header, rows);
}

std::string Report::markdown(const std::string& title, const std::string& machine) const {
    std::string text = "## " + title + "\n\n" + machine + "\n\n";
    text += table({"Figure", "Measured", "Target", "Result"}, targets_);
    for (const auto& n : notes_) text += "\n" + n + "\n";
    return text + details_;
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

int publish(const Report& report, const std::string& title, const std::string& out, bool strict,
            const char* program) {
    char date[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    const std::string text = report.markdown(title + " of " + date, describe_machine());
    std::ofstream file(out);
    file << text;
    std::fputs(text.c_str(), stdout);
    if (!file) {
        std::fprintf(stderr, "%s: cannot write %s\n", program, out.c_str());
        return 1;
    }
    return strict && !report.all_met() ? 3 : 0;
}

}  // namespace qk42rt::bench
