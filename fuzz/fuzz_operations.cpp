// Arbitrary arguments and arbitrary reply bytes (any length, none included) for every
// exported operation, run in memory: no crash, no sanitizer report, a well-formed request,
// and outputs untouched whenever the result is 0.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "port/held_port.h"
#include "protocol/command_table.h"
#include "qk42rt.h"
#include "support/scripted_port.h"

namespace {

using qk42rt::testing::Bytes;

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::uint8_t byte() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
    int integer() {
        std::uint32_t bits = 0;
        for (int i = 0; i < 4; ++i) bits = (bits << 8) | byte();
        int value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    float real() {
        const int bits = integer();
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
};

// Outputs start as a pattern no successful call can leave in all of them at once.
struct Outputs {
    float f = 0;
    int i[4];
    unsigned char four[4];
    Outputs() {
        std::memset(i, 0xA5, sizeof i);
        std::memset(four, 0xA5, sizeof four);
        std::memset(&f, 0xA5, sizeof f);
    }
    bool operator==(const Outputs& other) const {
        return std::memcmp(this, &other, sizeof *this) == 0;
    }
};

int call(int op, Input& in, Outputs& o) {
    const int a = in.integer(), c = in.integer(), x = in.integer(), y = in.integer();
    const float v = in.real();
    switch (op) {
        case 0:
            return QK42RT_ReadFlow(a, c, &o.f, &o.i[0]);
        case 1:
            return QK42RT_ReadSetpoint(a, c, &o.f, &o.i[0]);
        case 2:
            return QK42RT_ReadMaxflow(a, c, &o.f, &o.i[0]);
        case 3:
            return QK42RT_ReadUnit(a, c, &o.i[0]);
        case 4:
            return QK42RT_SetUnit(a, c, x);
        case 5:
            return QK42RT_SetSetpoint(a, c, v);
        case 6:
            return QK42RT_SetMaxflow(a, c, v, x);
        case 7:
            return QK42RT_ReadIntflow(a, c, o.four);
        case 8:
            return QK42RT_ReadInttime(a, o.four);
        case 9:
            return QK42RT_IntControl(a, c);
        case 10:
            return QK42RT_ReadRatioTotal(a, &o.i[0], &o.i[1], &o.i[2], &o.i[3]);
        case 11:
            return QK42RT_SetRatioTotal(a, c, x, y, a ^ c);
        case 12:
            return QK42RT_ControlRatioTotal(a, c);
        case 13:
            return QK42RT_ReadOnOff(a, &o.i[0]);
        case 14:
            return QK42RT_SetOnOff(a, c);
        case 15:
            return QK42RT_ReadVersion(a, &o.f, &o.i[0], &o.i[1], &o.i[2]);
        case 16:
            return QK42RT_SetDisplay(a, c, x);
        default:
            return QK42RT_SetKeyLock(a, c);
    }
}

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{data, size};
    const int op = in.byte() % 18;
    qk42rt::testing::ScriptedPort port;
    Input head = in;  // arguments come first; the rest of the input is the reply
    for (int i = 0; i < 20; ++i) head.byte();
    const std::size_t reply_length = head.byte() % 12;  // 0 to 11 bytes: none, short, long
    Bytes reply;
    for (std::size_t i = 0; i < reply_length && head.size > 0; ++i) reply.push_back(head.byte());
    port.script(reply);
    qk42rt::held_port::adopt(std::make_unique<qk42rt::testing::BorrowedPort>(port));

    Outputs outputs;
    const Outputs before = outputs;
    const int result = call(op, in, outputs);
    qk42rt::held_port::close();

    require(result == 0 || result == 1 || (op == 15 && result == 6));
    if (result == 0) require(outputs == before);
    require(port.requests().size() == 1);
    const Bytes& request = port.last_request();
    require(!request.empty() && (request[0] & 0x80));
    const auto code = qk42rt::protocol::code_of(request[0]);
    require(request.size() == qk42rt::protocol::request_length(code));
    for (std::size_t i = 1; i < request.size(); ++i) {
        require(request[i] < 0x80 || qk42rt::protocol::may_carry_bit7(code, i));
    }
    return 0;
}
