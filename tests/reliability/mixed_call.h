// One of a spread of exported calls, chosen by number, that knows what the echo instrument
// must answer: a result of 1 with any other value is a wrong value delivered.
#pragma once

#include <cstring>

#include "echo_instrument.h"
#include "qk42rt.h"

namespace qk42rt::testing {

enum class CallResult { ok, failed, wrong_value };

inline CallResult mixed_call(int n) {
    const int address = 1 + n % 3;
    const int channel = 1 + (n / 3) % 8;
    float f = -5.0f;
    int i = -5, j = -5, k = -5, l = -5;
    unsigned char four[4] = {};
    auto check = [](int result, bool right) {
        if (result == 0) return CallResult::failed;
        return right ? CallResult::ok : CallResult::wrong_value;
    };
    switch (n % 10) {
        case 0: {
            const int r = QK42RT_ReadFlow(address, channel, &f, &i);
            return check(r, f == echo_reading(address, channel, 3) && i == channel - 1);
        }
        case 1: {
            const int r = QK42RT_ReadSetpoint(address, channel, &f, &i);
            return check(r, f == echo_reading(address, channel, 4) && i == channel - 1);
        }
        case 2: {
            const int r = QK42RT_ReadMaxflow(address, channel, &f, &i);
            return check(r, f == echo_reading(address, channel, 5) && i == channel - 1);
        }
        case 3: {
            const int r = QK42RT_ReadUnit(address, channel, &i);
            return check(r, i == channel + address + 1);
        }
        case 4: {
            const int r = QK42RT_ReadIntflow(address, channel, four);
            return check(r, four[0] == address && four[1] == channel && four[2] == 0xAA);
        }
        case 5: {
            const int r = QK42RT_ReadRatioTotal(address, &i, &j, &k, &l);
            return check(r, i == address && j == address * 10 && k == 2 && l == 3);
        }
        case 6: {
            const int r = QK42RT_ReadOnOff(address, &i);
            return check(r, i == address * 3);
        }
        case 7: {
            const int r = QK42RT_ReadVersion(address, &f, &i, &j, &k);
            if (r == 0) return CallResult::failed;
            return r == 6 && f == 1.2f && i == 1 && j == address && k == 7
                       ? CallResult::ok
                       : CallResult::wrong_value;
        }
        case 8:
            return check(QK42RT_SetSetpoint(address, channel, 1.5f), true);
        default:
            return check(QK42RT_SetMaxflow(address, channel, 2.5f, 3), true);
    }
}

}  // namespace qk42rt::testing
