#include <windows.h>

#include "stop_request.h"

namespace qk42rt {
namespace {

// Manual reset: once a stop is asked for, every wait returns.
HANDLE stop_event() {
    static const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return event;
}

// Runs on a thread of the system's. Returning TRUE for a close, log-off or shut-down event
// gives the process a few seconds before it is ended: main() returns in that time.
BOOL WINAPI on_console_event(DWORD) {
    SetEvent(stop_event());
    return TRUE;
}

}  // namespace

StopRequest::StopRequest() {
    stop_event();
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void StopRequest::wait() const {
    WaitForSingleObject(stop_event(), INFINITE);
}

void StopRequest::wake(std::thread&) const {
    SetEvent(stop_event());
}

}  // namespace qk42rt
