// The three timed exported functions with the benchmark's fixed arguments (instrument address
// 1, channel 1, setpoint 1.0), as plain calls without arguments.
#pragma once

namespace qk42rt::bench {

struct ExportedCalls {
    int (*read_flow)();
    int (*set_setpoint)();
    int (*read_version)();
};

// The exported functions of whatever library the calling module is linked with: the shared
// library in qk42rt-bench itself, the static core in the device-server module (lines.h).
ExportedCalls exported_calls();

}  // namespace qk42rt::bench
