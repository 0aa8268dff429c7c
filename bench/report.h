// The benchmark's findings as Markdown: the targets with PASS/FAIL, then the detail tables.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "measure.h"

namespace qk42rt::bench {

using Row = std::vector<std::string>;

class Report {
  public:
    // A figure and its target; a missed one reads **FAIL**.
    void target(const std::string& figure, const std::string& measured, const std::string& goal,
                bool met);
    // A figure without a target (its result is "-"), and why it has none.
    void figure(const std::string& figure, const std::string& measured, const std::string& why);
    void section(const std::string& heading, const std::string& note, const Row& header,
                 const std::vector<Row>& rows);

    // Writes it, titled with the date and the machine, to `out` and standard output. The exit
    // status: 1 when the file cannot be written, 3 when `strict` and a target was missed.
    int publish(const std::string& out, bool strict) const;

  private:
    std::vector<Row> targets_;
    std::string details_;
    bool all_met_ = true;
};

std::string fixed(double value, int decimals);

// Library/bare ratios to stay within: median wall time and CPU per call.
struct Limits {
    double wall = 0.0;
    double cpu = 0.0;
};

// "NAME: library/bare, median wall" and "..., CPU per call" against `limits`, which a failed
// call misses; without limits, figures for the reason `why`.
void library_targets(Report& report, const std::string& name, const Samples& library,
                     const Samples& bare, std::optional<Limits> limits,
                     const std::string& why = "");

// `lead`, then the calls, median and p99 wall time (µs), CPU per call and over the bare
// exchange's, and the failures.
Row cost_row(Row lead, const Samples& samples, const Samples& bare);

}  // namespace qk42rt::bench
