// How the long-running tools (the simulator, the server) wait to be stopped.
#pragma once

#include <signal.h>

namespace qk42rt {

// Blocks SIGINT and SIGTERM in the calling thread, so that threads started after it inherit
// the block and one sigwait on the returned set receives them; ignores SIGPIPE, so that a
// peer that goes away ends its connection rather than the process. Call before any thread
// starts.
sigset_t block_stop_signals();

}  // namespace qk42rt
