// `sniff` on Windows: its relay gives the host a pseudo-terminal, and Windows has none.
#include "subcommands.h"

namespace qk42rt::cli {

Prepared prepare_sniff(const CommandLine&) {
    throw UsageError(
        "sniff is not available on Windows: its relay needs a pseudo-terminal (run it on Linux)");
}

}  // namespace qk42rt::cli
