// How the long-running tools (the simulator, the server) wait to be stopped: SIGINT or SIGTERM
// on Linux; Ctrl+C, Ctrl+Break, closing the console window, logging off or shutting down on
// Windows.
#pragma once

#include <thread>

namespace qk42rt {

class StopRequest {
  public:
    // Linux: blocks SIGINT and SIGTERM in the calling thread, so that threads started after it
    // inherit the block and only wait() receives them, and ignores SIGPIPE, so that a peer
    // that goes away ends its connection rather than the process. Call before any thread
    // starts. Windows: installs a console control handler.
    StopRequest();
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

    // Returns once a stop has been asked for, or wake() was called.
    void wait() const;

    // Ends the wait() of `waiter` (the thread that calls or will call it) without a stop.
    void wake(std::thread& waiter) const;
};

}  // namespace qk42rt
