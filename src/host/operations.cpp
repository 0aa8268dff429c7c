// The eighteen operations on a line: arguments checked strictly before anything is sent, one
// exchange through the core, outputs written only on success, the reason kept otherwise.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "commands/commands.h"
#include "commands/limits.h"
#include "host/line_handle.h"
#include "host/status.h"

namespace {

namespace cmd = qk42rt::commands;
using qk42rt::Outcome;

namespace limits = qk42rt::commands::limits;
using qk42rt::commands::Limit;

// Arguments outside their range: the first one in words, and nothing is sent.
class Checks {
  public:
    Checks& range(const char* what, int value, Limit limit) {
        if (refused_.empty() && !limit.contains(value)) {
            refused_ = std::string(what) + " must be " + std::to_string(limit.low) + " to " +
                       std::to_string(limit.high) + ", not " + std::to_string(value);
        }
        return *this;
    }
    Checks& finite(const char* what, float value) {
        if (refused_.empty() && !qk42rt::commands::finite_float(value)) {
            refused_ = std::string(what) + " must be a finite number";
        }
        return *this;
    }
    Checks& output(const void* pointer) {
        if (refused_.empty() && pointer == nullptr) refused_ = "an output pointer is null";
        return *this;
    }
    Checks& address(int value) { return range("address", value, limits::address); }
    Checks& channel(int value) { return range("channel", value, limits::channel); }
    const std::string& refused() const { return refused_; }

  private:
    std::string refused_;
};

// Runs `operation` under the line's lock once the checks have passed. `operation` returns
// the status and writes the outputs itself when the outcome is good.
template <class Operation>
qk42_status run(qk42_line* line, const Checks& checks, Operation&& operation) noexcept {
    if (line == nullptr) return QK42_BAD_ARGUMENT;
    try {
        std::lock_guard lock(line->mutex);
        if (!checks.refused().empty()) {
            line->last_error() = "bad argument: " + checks.refused();
            return QK42_BAD_ARGUMENT;
        }
        return operation(*line);
    } catch (...) {
        return QK42_LINE_CLOSED;  // out of memory: nothing is known about the line
    }
}

// The status of an outcome, keeping its reason on the line.
template <class T>
qk42_status judged(qk42_line& line, const Outcome<T>& outcome) {
    if (outcome.ok()) {
        line.last_error().clear();
        return QK42_OK;
    }
    line.last_error() = qk42rt::describe(outcome.error());
    return qk42rt::host::status_of(outcome.error().why);
}

qk42_status reading(qk42_line* line, int address, int channel, float* value, int* status,
                    Outcome<cmd::Reading> (*read)(qk42rt::protocol::Line&, int, int)) noexcept {
    return run(line, Checks().address(address).channel(channel).output(value).output(status),
               [&](qk42_line& l) {
                   const auto outcome = read(l.line, address, channel);
                   const qk42_status result = judged(l, outcome);
                   if (result == QK42_OK) {
                       *value = outcome.value().value;
                       *status = outcome.value().status;
                   }
                   return result;
               });
}

qk42_status four_bytes(qk42_line& line, const Outcome<cmd::FourBytes>& outcome,
                       unsigned char* bytes) {
    const qk42_status result = judged(line, outcome);
    if (result == QK42_OK) std::memcpy(bytes, outcome.value().data(), outcome.value().size());
    return result;
}

}  // namespace

extern "C" {

qk42_status QK42_CALL qk42_read_flow(qk42_line* line, int address, int channel, float* flow,
                                     int* status) QK42_NOTHROW {
    return reading(line, address, channel, flow, status, cmd::read_flow);
}

qk42_status QK42_CALL qk42_read_setpoint(qk42_line* line, int address, int channel, float* setpoint,
                                         int* status) QK42_NOTHROW {
    return reading(line, address, channel, setpoint, status, cmd::read_setpoint);
}

qk42_status QK42_CALL qk42_read_maxflow(qk42_line* line, int address, int channel, float* maxflow,
                                        int* status) QK42_NOTHROW {
    return reading(line, address, channel, maxflow, status, cmd::read_maxflow);
}

qk42_status QK42_CALL qk42_read_unit(qk42_line* line, int address, int channel,
                                     int* unit) QK42_NOTHROW {
    return run(line, Checks().address(address).channel(channel).output(unit), [&](qk42_line& l) {
        const auto outcome = cmd::read_unit(l.line, address, channel);
        const qk42_status result = judged(l, outcome);
        if (result == QK42_OK) *unit = outcome.value();
        return result;
    });
}

qk42_status QK42_CALL qk42_set_unit(qk42_line* line, int address, int channel,
                                    int unit) QK42_NOTHROW {
    return run(
        line, Checks().address(address).channel(channel).range("unit", unit, limits::unit),
        [&](qk42_line& l) { return judged(l, cmd::set_unit(l.line, address, channel, unit)); });
}

qk42_status QK42_CALL qk42_set_setpoint(qk42_line* line, int address, int channel,
                                        float setpoint) QK42_NOTHROW {
    return run(line, Checks().address(address).channel(channel).finite("setpoint", setpoint),
               [&](qk42_line& l) {
                   return judged(l, cmd::set_setpoint(l.line, address, channel, setpoint));
               });
}

qk42_status QK42_CALL qk42_set_maxflow(qk42_line* line, int address, int channel, float maxflow,
                                       int code) QK42_NOTHROW {
    return run(line,
               Checks()
                   .address(address)
                   .channel(channel)
                   .finite("maximum flow", maxflow)
                   .range("maximum-flow code", code, limits::maxflow_code),
               [&](qk42_line& l) {
                   return judged(l, cmd::set_maxflow(l.line, address, channel, maxflow, code));
               });
}

qk42_status QK42_CALL qk42_read_intflow(qk42_line* line, int address, int channel,
                                        unsigned char bytes[4]) QK42_NOTHROW {
    return run(line, Checks().address(address).channel(channel).output(bytes), [&](qk42_line& l) {
        return four_bytes(l, cmd::read_intflow(l.line, address, channel), bytes);
    });
}

qk42_status QK42_CALL qk42_read_inttime(qk42_line* line, int address,
                                        unsigned char bytes[4]) QK42_NOTHROW {
    return run(line, Checks().address(address).output(bytes), [&](qk42_line& l) {
        return four_bytes(l, cmd::read_inttime(l.line, address), bytes);
    });
}

qk42_status QK42_CALL qk42_int_control(qk42_line* line, int address, int control) QK42_NOTHROW {
    return run(line,
               Checks().address(address).range("integration control", control, limits::control),
               [&](qk42_line& l) { return judged(l, cmd::int_control(l.line, address, control)); });
}

qk42_status QK42_CALL qk42_read_ratio_total(qk42_line* line, int address, int* channel, int* value,
                                            int* channel2, int* channel3) QK42_NOTHROW {
    return run(
        line,
        Checks().address(address).output(channel).output(value).output(channel2).output(channel3),
        [&](qk42_line& l) {
            const auto outcome = cmd::read_ratio_total(l.line, address);
            const qk42_status result = judged(l, outcome);
            if (result == QK42_OK) {
                *channel = outcome.value().channel;
                *value = outcome.value().value;
                *channel2 = outcome.value().channel2;
                *channel3 = outcome.value().channel3;
            }
            return result;
        });
}

qk42_status QK42_CALL qk42_set_ratio_total(qk42_line* line, int address, int channel, int value,
                                           int channel2, int channel3) QK42_NOTHROW {
    return run(line,
               Checks()
                   .address(address)
                   .channel(channel)
                   .range("ratio/total value", value, limits::ratio_value)
                   .range("channel2", channel2, limits::channel)
                   .range("channel3", channel3, limits::channel),
               [&](qk42_line& l) {
                   return judged(l, cmd::set_ratio_total(l.line, address,
                                                         {channel, value, channel2, channel3}));
               });
}

qk42_status QK42_CALL qk42_control_ratio_total(qk42_line* line, int address,
                                               int mode) QK42_NOTHROW {
    return run(
        line, Checks().address(address).range("ratio/total mode", mode, limits::ratio_mode),
        [&](qk42_line& l) { return judged(l, cmd::control_ratio_total(l.line, address, mode)); });
}

qk42_status QK42_CALL qk42_read_on_off(qk42_line* line, int address, int* state) QK42_NOTHROW {
    return run(line, Checks().address(address).output(state), [&](qk42_line& l) {
        const auto outcome = cmd::read_on_off(l.line, address);
        const qk42_status result = judged(l, outcome);
        if (result == QK42_OK) *state = outcome.value();
        return result;
    });
}

qk42_status QK42_CALL qk42_set_on_off(qk42_line* line, int address, int state) QK42_NOTHROW {
    return run(line, Checks().address(address).range("on/off state", state, limits::state),
               [&](qk42_line& l) { return judged(l, cmd::set_on_off(l.line, address, state)); });
}

qk42_status QK42_CALL qk42_read_version(qk42_line* line, int address, char text[4], float* number,
                                        int* kind, int* info1, int* info2) QK42_NOTHROW {
    return run(
        line,
        Checks().address(address).output(text).output(number).output(kind).output(info1).output(
            info2),
        [&](qk42_line& l) {
            const auto outcome = cmd::read_version(l.line, address);
            const qk42_status result = judged(l, outcome);
            if (result == QK42_OK) {
                const cmd::Version& version = outcome.value();
                std::memcpy(text, version.text.data(), 3);
                text[3] = '\0';
                *number =
                    version.number ? *version.number : std::numeric_limits<float>::quiet_NaN();
                *kind = version.kind;
                *info1 = version.info1;
                *info2 = version.info2;
            }
            return result;
        });
}

qk42_status QK42_CALL qk42_set_display(qk42_line* line, int address, int flag1,
                                       int flag2) QK42_NOTHROW {
    return run(line, Checks().address(address), [&](qk42_line& l) {
        return judged(l, cmd::set_display(l.line, address, flag1, flag2));
    });
}

qk42_status QK42_CALL qk42_set_key_lock(qk42_line* line, int address, int locked) QK42_NOTHROW {
    return run(line, Checks().address(address),
               [&](qk42_line& l) { return judged(l, cmd::set_key_lock(l.line, address, locked)); });
}

}  // extern "C"
