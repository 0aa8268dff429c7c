// The twenty C functions: each takes the call lock, refuses null outputs, runs its operation
// on the held port and writes its outputs only on success.
#include <cstring>

#include "commands/commands.h"
#include "exports/call_lock.h"
#include "port/held_port.h"
#include "qk42rt.h"

namespace {

using qk42rt::CallLock;
using qk42rt::protocol::Line;
namespace cmd = qk42rt::commands;

Line held_line() {
    return Line(qk42rt::held_port::get());
}

template <class T>
int done_result(const qk42rt::Outcome<T>& outcome) {
    return outcome.ok() ? 1 : 0;
}

int write_reading(const qk42rt::Outcome<cmd::Reading>& outcome, float* value, int* status) {
    if (!outcome.ok()) return 0;
    *value = outcome.value().value;
    *status = outcome.value().status;
    return 1;
}

int write_four_bytes(const qk42rt::Outcome<cmd::FourBytes>& outcome, void* out) {
    if (!outcome.ok()) return 0;
    std::memcpy(out, outcome.value().data(), outcome.value().size());
    return 1;
}

}  // namespace

extern "C" {

int QK42RT_CALL QK42RT_InitPort(int port) QK42RT_NOTHROW {
    CallLock lock;
    return qk42rt::held_port::init(port) ? 1 : 0;
}

int QK42RT_CALL QK42RT_ClosePort(void) QK42RT_NOTHROW {
    CallLock lock;
    qk42rt::held_port::close();
    return 1;
}

int QK42RT_CALL QK42RT_ReadFlow(int address, int channel, float* flow, int* status) QK42RT_NOTHROW {
    if (flow == nullptr || status == nullptr) return 0;
    CallLock lock;
    Line line = held_line();
    return write_reading(cmd::read_flow(line, address, channel), flow, status);
}

int QK42RT_CALL QK42RT_ReadSetpoint(int address, int channel, float* setpoint,
                                    int* status) QK42RT_NOTHROW {
    if (setpoint == nullptr || status == nullptr) return 0;
    CallLock lock;
    Line line = held_line();
    return write_reading(cmd::read_setpoint(line, address, channel), setpoint, status);
}

int QK42RT_CALL QK42RT_ReadMaxflow(int address, int channel, float* maxflow,
                                   int* status) QK42RT_NOTHROW {
    if (maxflow == nullptr || status == nullptr) return 0;
    CallLock lock;
    Line line = held_line();
    return write_reading(cmd::read_maxflow(line, address, channel), maxflow, status);
}

int QK42RT_CALL QK42RT_ReadUnit(int address, int channel, int* unit) QK42RT_NOTHROW {
    if (unit == nullptr) return 0;
    CallLock lock;
    Line line = held_line();
    const auto outcome = cmd::read_unit(line, address, channel);
    if (!outcome.ok()) return 0;
    *unit = outcome.value();
    return 1;
}

int QK42RT_CALL QK42RT_SetUnit(int address, int channel, int unit) QK42RT_NOTHROW {
    CallLock lock;
    Line line = held_line();
    return done_result(cmd::set_unit(line, address, channel, unit));
}

int QK42RT_CALL QK42RT_SetSetpoint(int address, int channel, float setpoint) QK42RT_NOTHROW {
    CallLock lock;
    Line line = held_line();
    return done_result(cmd::set_setpoint(line, address, channel, setpoint));
}

int QK42RT_CALL QK42RT_SetMaxflow(int address, int channel, float maxflow,
                                  int code) QK42RT_NOTHROW {
    CallLock lock;
    Line line = held_line();
    return done_result(cmd::set_maxflow(line, address, channel, maxflow, code));
}

int QK42RT_CALL QK42RT_ReadIntflow(int address, int channel, void* intflow) QK42RT_NOTHROW {
    if (intflow == nullptr) return 0;
    CallLock lock;
    Line line = held_line();
    return write_four_bytes(cmd::read_intflow(line, address, channel), intflow);
}

int QK42RT_CALL QK42RT_ReadInttime(int address, void* inttime) QK42RT_NOTHROW {
    if (inttime == nullptr) return 0;
    CallLock lock;
    Line line = held_line();
    return write_four_bytes(cmd::read_inttime(line, address), inttime);
}

int QK42RT_CALL QK42RT_IntControl(int address, int control) QK42RT_NOTHROW {
    CallLock lock;
    Line line = held_line();
    return done_result(cmd::int_control(line, address, control));
}

int QK42RT_CALL QK42RT_ReadRatioTotal(int address, int* channel, int* value, int* channel2,
                                      int* channel3) QK42RT_NOTHROW {
    if (channel == nullptr || value == nullptr || channel2 == nullptr || channel3 == nullptr) {
        return 0;
    }
    CallLock lock;
    Line line = held_line();
    const auto outcome = cmd::read_ratio_total(line, address);
    if (!outcome.ok()) return 0;
    *channel = outcome.value().channel;
    *value = outcome.value().value;
    *channel2 = outcome.value().channel2;
    *channel3 = outcome.value().channel3;
    return 1;
}

int QK42RT_CALL QK42RT_SetRatioTotal(int address, int channel, int value, int channel2,
                                     int channel3) QK42RT_NOTHROW {
    CallLock lock;
    Line line = held_line();
    return done_result(cmd::set_ratio_total(line, address, {channel, value, channel2, channel3}));
}

int QK42RT_CALL QK42RT_ControlRatioTotal(int address, int mode) QK42RT_NOTHROW {
    CallLock lock;
    Line line = held_line();
    return done_result(cmd::control_ratio_total(line, address, mode));
}

int QK42RT_CALL QK42RT_ReadOnOff(int address, int* state) QK42RT_NOTHROW {
    if (state == nullptr) return 0;
    CallLock lock;
    Line line = held_line();
    const auto outcome = cmd::read_on_off(line, address);
    if (!outcome.ok()) return 0;
    *state = outcome.value();
    return 1;
}

int QK42RT_CALL QK42RT_SetOnOff(int address, int state) QK42RT_NOTHROW {
    CallLock lock;
    Line line = held_line();
    return done_result(cmd::set_on_off(line, address, state));
}

int QK42RT_CALL QK42RT_ReadVersion(int address, float* version, int* kind, int* info1,
                                   int* info2) QK42RT_NOTHROW {
    if (version == nullptr || kind == nullptr || info1 == nullptr || info2 == nullptr) return 0;
    CallLock lock;
    Line line = held_line();
    const auto outcome = cmd::read_version(line, address);
    if (!outcome.ok()) return 0;
    if (outcome.value().number) *version = *outcome.value().number;
    *kind = outcome.value().kind;
    *info1 = outcome.value().info1;
    *info2 = outcome.value().info2;
    return 6;  // the reply length, as hosts of this instrument expect
}

int QK42RT_CALL QK42RT_SetDisplay(int address, int flag1, int flag2) QK42RT_NOTHROW {
    CallLock lock;
    Line line = held_line();
    return done_result(cmd::set_display(line, address, flag1, flag2));
}

int QK42RT_CALL QK42RT_SetKeyLock(int address, int locked) QK42RT_NOTHROW {
    CallLock lock;
    Line line = held_line();
    return done_result(cmd::set_key_lock(line, address, locked));
}

}  // extern "C"
