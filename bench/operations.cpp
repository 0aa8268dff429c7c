#include "operations.h"

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

const std::vector<Operation>& timed_operations() {
    // Request bytes as the instrument's protocol defines them: header 0x80 | code for address
    // 1, the channel byte 0x00 for channel 1, 1.0 packed as 04 00 00 00 3F.
    static const std::vector<Operation> operations{
        {"QK42RT_ReadFlow", "read_flow", {0x83, 0x00}, 5, read_flow, 1},
        {"QK42RT_SetSetpoint",
         "set_setpoint",
         {0x8E, 0x00, 0x04, 0x00, 0x00, 0x00, 0x3F},
         1,
         set_setpoint,
         1},
        {"QK42RT_ReadVersion", "read_version", {0x80, 0x00}, 6, read_version, 6},
    };
    return operations;
}

double line_minimum_us(const Operation& op) {
    return static_cast<double>(op.request.size() + op.reply_length) * 10.0 / 9600.0 * 1e6;
}

}  // namespace qk42rt::bench
