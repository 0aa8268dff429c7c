#include "protocol/command_table.h"

#include <array>

namespace qk42rt::protocol {
namespace {

constexpr std::array<CommandInfo, 16> kTable{{
    {Code::system, "QK42RT_ReadVersion", 2, 6, Check::data},
    {Code::set_unit, "QK42RT_SetUnit", 3, 1, Check::acknowledged},
    {Code::read_unit, "QK42RT_ReadUnit", 2, 1, Check::data},
    {Code::read_flow, "QK42RT_ReadFlow", 2, 5, Check::data},
    {Code::read_setpoint, "QK42RT_ReadSetpoint", 2, 5, Check::data},
    {Code::read_maxflow, "QK42RT_ReadMaxflow", 2, 5, Check::data},
    {Code::read_intflow, "QK42RT_ReadIntflow", 2, 4, Check::data},
    {Code::read_inttime, "QK42RT_ReadInttime", 1, 4, Check::data},
    {Code::int_control, "QK42RT_IntControl", 2, 1, Check::acknowledged},
    {Code::read_ratio_total, "QK42RT_ReadRatioTotal", 1, 3, Check::data},
    {Code::set_ratio_total, "QK42RT_SetRatioTotal", 5, 1, Check::acknowledged},
    {Code::read_on_off, "QK42RT_ReadOnOff", 1, 1, Check::data},
    {Code::set_on_off, "QK42RT_SetOnOff", 3, 1, Check::any_of_length},
    {Code::control_ratio_total, "QK42RT_ControlRatioTotal", 2, 1, Check::acknowledged},
    {Code::set_setpoint, "QK42RT_SetSetpoint", 7, 1, Check::acknowledged},
    {Code::set_maxflow, "QK42RT_SetMaxflow", 8, 1, Check::acknowledged},
}};

constexpr CommandInfo kSetDisplay{Code::system, "QK42RT_SetDisplay", 2, 5, Check::any_of_length};
constexpr CommandInfo kSetKeyLock{Code::system, "QK42RT_SetKeyLock", 2, 5, Check::any_of_length};

}  // namespace

std::optional<CommandInfo> command_info(Code code, std::uint8_t subcode) {
    if (code != Code::system) return kTable[static_cast<std::size_t>(code) & 0x0Fu];
    if (subcode == kSubReadVersion) return kTable[0];
    if ((subcode & 0xFCu) == kSubDisplay) return kSetDisplay;
    if ((subcode & ~kKeyLockedBit) == kSubKeyLock) return kSetKeyLock;
    return std::nullopt;
}

std::size_t request_length(Code code) {
    return kTable[static_cast<std::size_t>(code) & 0x0Fu].request_length;
}

bool may_carry_bit7(Code code, std::size_t position) {
    switch (code) {
        case Code::int_control:
        case Code::control_ratio_total:
            return position == 1;
        case Code::set_maxflow:
            return position == 7;
        default:
            return false;
    }
}

}  // namespace qk42rt::protocol
