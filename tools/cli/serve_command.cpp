// `serve`: hands the command line to the server, which owns the line itself (and opens it
// again whenever it goes away), so no Session is opened here.
#include "serve_options.h"
#include "subcommands.h"

namespace qk42rt::cli {

Prepared prepare_serve(const CommandLine& line) {
    server::ServeOptions options;
    server::LineOptions served;
    served.device = chosen_device(line);
    served.addresses = line.addresses;
    served.poll_interval_ms = line.serve.poll_interval_ms;
    options.lines.push_back(served);
    options.http.listen = line.serve.listen;
    options.http.token_file = line.serve.token_file;
    options.read_only = line.serve.read_only;
    return {{}, [options](std::ostream&) { return server::serve(options); }};
}

}  // namespace qk42rt::cli
