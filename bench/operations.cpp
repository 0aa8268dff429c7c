#include "operations.h"

namespace qk42rt::bench {

std::vector<Operation> operations_calling(const ExportedCalls& calls) {
    // Request bytes as the instrument's protocol defines them: header 0x80 | code for address
    // 1, the channel byte 0x00 for channel 1, 1.0 packed as 04 00 00 00 3F.
    return {
        {"QK42RT_ReadFlow", "read_flow", {0x83, 0x00}, 5, calls.read_flow, 1},
        {"QK42RT_SetSetpoint",
         "set_setpoint",
         {0x8E, 0x00, 0x04, 0x00, 0x00, 0x00, 0x3F},
         1,
         calls.set_setpoint,
         1},
        {"QK42RT_ReadVersion", "read_version", {0x80, 0x00}, 6, calls.read_version, 6},
    };
}

const std::vector<Operation>& timed_operations() {
    static const std::vector<Operation> operations = operations_calling(exported_calls());
    return operations;
}

double line_minimum_us(const Operation& op) {
    return static_cast<double>(op.request.size() + op.reply_length) * 10.0 / 9600.0 * 1e6;
}

}  // namespace qk42rt::bench
