// The benchmark's findings as Markdown: the targets with PASS/FAIL, then the detailed tables.
#pragma once

#include <string>
#include <vector>

namespace qk42rt::bench {

using Row = std::vector<std::string>;

class Report {
  public:
    // A target row: what was measured, its value, the target, and whether it was met.
    void target(const std::string& figure, const std::string& measured, const std::string& goal,
                bool met);
    // A figure reported without a target (its Result is "-").
    void figure(const std::string& figure, const std::string& measured, const std::string& why);
    // A detail section: a heading, an optional note and a table.
    void section(const std::string& heading, const std::string& note, const Row& header,
                 const std::vector<Row>& rows);
    void note(const std::string& text) { notes_.push_back(text); }

    bool all_met() const { return all_met_; }
    std::string markdown(const std::string& title, const std::string& machine) const;

  private:
    std::vector<Row> targets_;
    std::string details_;
    std::vector<std::string> notes_;
    bool all_met_ = true;
};

// Ends a benchmark program: the report titled "<title> of <date> UTC" with the machine's line,
// written to `out` and printed. Its exit status: 1 when the file cannot be written, 3 when
// `strict` and a target was missed, else 0. `program` names the writer in its message.
int publish(const Report& report, const std::string& title, const std::string& out, bool strict,
            const char* program);

// Numbers as the tables show them.
std::string fixed(double value, int decimals);

}  // namespace qk42rt::bench
