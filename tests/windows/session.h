// The scenarios the Windows test host runs against QK42RT.dll.
#pragma once

#include <string>

namespace qk42rt_wintest {

struct Setup {
    std::string dll;        // path of QK42RT.dll
    int port = 0;           // COM port mapped to the simulator's line
    int missing_port = 0;   // COM port with no device behind it
    std::string sim_log;    // the simulator's standard output, as a Windows path
    std::string probe_dll;  // the exit probe, for the process-exit scenario
};

// Every operation against the simulator, failures and time-outs, then FreeLibrary with the
// port held. Returns the process exit status.
int full_session(const Setup& setup);

// Opens the port and ends the process without FreeLibrary; the exit probe, detached after
// the library, reports whether the line was released meanwhile.
int exit_with_port_held(const Setup& setup);

// QK42RT_InitPort on a port that does not exist, timed; for the message box under a display.
int init_missing_port(const Setup& setup);

}  // namespace qk42rt_wintest
