// What `qk42rt scan` makes of each address's answer to "read version", and how it shows the
// instruments it found. Plain functions, so that they can be tested without a line.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "output.h"
#include "protocol/outcome.h"

namespace qk42rt::cli {

// An address whose version reply was sound.
struct ScanAnswer {
    int address = 0;
    commands::Version version;
};

enum class Heard {
    silent,          // nothing within the reply time-out: no instrument at that address
    not_instrument,  // something answered, but not as the instrument does
    line_failed,     // the line itself failed: asking further addresses is pointless
};
Heard judge(const Error& error);

// The version characters for a terminal or JSON: up to the first NUL, any byte that is not
// printable ASCII written as \xNN.
std::string shown_version_text(const std::array<char, 3>& text);

// {"address":1,"version":"1.2","kind":"C","info1":8,"info2":1}
Record answer_record(const ScanAnswer& answer);

std::vector<std::string> scan_table_header();
std::vector<std::string> answer_row(const ScanAnswer& answer);

}  // namespace qk42rt::cli
