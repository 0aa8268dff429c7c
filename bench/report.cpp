#include "report.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>

namespace qk42rt::bench {
namespace {

std::string table(const Row& header, const std::vector<Row>& rows) {
    const auto line = [](const Row& cells) {
        std::string text = "|";
        for (const auto& cell : cells) text += " " + cell + " |";
        return text + "\n";
    };
    std::string text = line(header) + line(Row(header.size(), "---"));
    for (const auto& row : rows) text += line(row);
    return text;
}

// "Machine: N cores (nproc), CPU model, Linux release."
std::string machine() {
    std::string model = "unknown CPU";
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.starts_with("model name")) {
            model = line.substr(line.find(": ") + 2);  // "model name\t: MODEL"
            break;
        }
    }
    utsname name{};
    uname(&name);
    return "Machine: " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores (nproc), " +
           model + ", Linux " + name.release + ".";
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
    details_ += "\n### " + heading + "\n\n" + note + "\n\n" + table(header, rows);
}

int Report::publish(const std::string& out, bool strict) const {
    char date[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    std::string text = std::string("## Benchmark run of ") + date + "\n\n" + machine() + "\n\n";
    text += table({"Figure", "Measured", "Target", "Result"}, targets_);
    text += details_;
    std::ofstream file(out);
    file << text;
    std::fputs(text.c_str(), stdout);
    if (!file) {
        std::fprintf(stderr, "qk42rt-bench: cannot write %s\n", out.c_str());
        return 1;
    }
    return strict && !all_met_ ? 3 : 0;
}

void library_targets(Report& report, const std::string& name, const Samples& library,
                     const Samples& bare, std::optional<Limits> limits, const std::string& why) {
    const double wall = summarize(library.wall_us).median / summarize(bare.wall_us).median;
    const double cpu = library.cpu_per_call() / bare.cpu_per_call();
    const std::size_t failed = library.failures + bare.failures;
    const std::string trouble = failed ? " (" + std::to_string(failed) + " calls failed)" : "";
    const std::string figure = name + ": library/bare, ";
    if (!limits) {
        report.figure(figure + "median wall", fixed(wall, 2) + trouble, why);
        report.figure(figure + "CPU per call", fixed(cpu, 2) + trouble, why);
        return;
    }
    report.target(figure + "median wall", fixed(wall, 2) + trouble, "≤ " + fixed(limits->wall, 2),
                  failed == 0 && wall <= limits->wall);
    report.target(figure + "CPU per call", fixed(cpu, 2) + trouble, "≤ " + fixed(limits->cpu, 2),
                  failed == 0 && cpu <= limits->cpu);
}

Row cost_row(Row lead, const Samples& samples, const Samples& bare) {
    const Summary s = summarize(samples.wall_us);
    const double cpu = samples.cpu_per_call();
    lead.insert(lead.end(),
                {std::to_string(s.count), fixed(s.median, 1), fixed(s.p99, 1), fixed(cpu, 1),
                 fixed(cpu - bare.cpu_per_call(), 1), std::to_string(samples.failures)});
    return lead;
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace qk42rt::bench
