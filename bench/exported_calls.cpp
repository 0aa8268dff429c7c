// Compiled into qk42rt-bench and into its device-server module alike. In each the QK42RT_*
// names bind to that module's own copy of the library; the module keeps its symbols hidden, so
// the two definitions of exported_calls() never meet.
#include "exported_calls.h"

#include "qk42rt.h"

namespace qk42rt::bench {
namespace {

int read_flow() {
    float flow = 0.0f;
    int status = 0;
    return QK42RT_ReadFlow(1, 1, &flow, &status);
}

int set_setpoint() {
    return QK42RT_SetSetpoint(1, 1, 1.0f);
}

int read_version() {
    float version = 0.0f;
    int kind = 0;
    int info1 = 0;
    int info2 = 0;
    return QK42RT_ReadVersion(1, &version, &kind, &info1, &info2);
}

}  // namespace

ExportedCalls exported_calls() {
    return {read_flow, set_setpoint, read_version};
}

}  // namespace qk42rt::bench
