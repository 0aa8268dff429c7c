// The sixteen command codes: request length, reply length and how a reply is judged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qk42rt::protocol {

enum class Code : std::uint8_t {
    system = 0x0,
    set_unit = 0x1,
    read_unit = 0x2,
    read_flow = 0x3,
    read_setpoint = 0x4,
    read_maxflow = 0x5,
    read_intflow = 0x6,
    read_inttime = 0x7,
    int_control = 0x8,
    read_ratio_total = 0x9,
    set_ratio_total = 0xA,
    read_on_off = 0xB,
    set_on_off = 0xC,
    control_ratio_total = 0xD,
    set_setpoint = 0xE,
    set_maxflow = 0xF,
};

enum class Check : std::uint8_t {
    data,           // the count equals the reply length
    acknowledged,   // one byte, equal to header AND 0x7F
    any_of_length,  // the count equals the reply length; content not looked at
};

// Sub-codes of the system command (code 0x0).
inline constexpr std::uint8_t kSubReadVersion = 0x00;
inline constexpr std::uint8_t kSubDisplay = 0x04;  // | 0x02 flag1, | 0x01 flag2
inline constexpr std::uint8_t kSubKeyLock = 0x20;  // | 0x10 locked
inline constexpr std::uint8_t kKeyLockedBit = 0x10;

struct CommandInfo {
    Code code;
    std::string_view name;       // the exported function that sends it
    std::size_t request_length;  // header included
    std::size_t reply_length;
    Check check;
};

inline constexpr std::size_t kMaxRequest = 8;
inline constexpr std::size_t kMaxReply = 6;

// The command a request stands for, from its header's code and, for code 0x0, its sub-code.
// Empty for a system sub-code the library never sends.
std::optional<CommandInfo> command_info(Code code, std::uint8_t subcode = 0);

// Request length from the code alone (the sub-code does not change it).
std::size_t request_length(Code code);

// Data bytes are 7-bit except where a caller's out-of-range argument reaches the wire
// unmasked: the integration control byte, the maximum-flow code byte and the ratio/total
// mode byte. An instrument framing requests must take those as data, not as a new header.
bool may_carry_bit7(Code code, std::size_t position);

inline Code code_of(std::uint8_t header) {
    return static_cast<Code>(header & 0x0Fu);
}

// Instrument address (1..8) carried by a header byte.
inline int address_of(std::uint8_t header) {
    return ((header >> 4) & 0x07) + 1;
}

}  // namespace qk42rt::protocol
