// `sniff`: the wire tools' relay between a host and the device, decoding as it goes.
#include <iostream>

#include "sniff.h"
#include "subcommands.h"

namespace qk42rt::cli {

Prepared prepare_sniff(const CommandLine& line) {
    wire::SniffOptions options;
    options.device = chosen_device(line);
    if (line.link.empty())
        throw UsageError("sniff needs --link PATH, where the host finds its line");
    options.link = line.link;
    options.record = line.record.value_or("");
    options.json = line.json;
    return {{}, [options](std::ostream& out) { return wire::sniff(options, out, std::cerr); }};
}

}  // namespace qk42rt::cli
