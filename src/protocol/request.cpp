#include "protocol/request.h"

#include <cctype>

#include "protocol/frame.h"
#include "protocol/text.h"

namespace qk42rt::protocol {
namespace {

// Builds each operation's bytes from its arguments.
struct Encoder {
    int address;

    std::uint8_t header(Code code) const { return header_byte(address, code); }

    Request channel_request(Code code, int channel) const {
        return {header(code), channel_byte(channel)};
    }
    Request packed_float_request(Code code, int channel, float value) const {
        Request request = channel_request(code, channel);
        for (const std::uint8_t byte : packed_float(value)) request.push(byte);
        return request;
    }

    Request operator()(const op::ReadVersion&) const {
        return {header(Code::system), kSubReadVersion};
    }
    Request operator()(const op::SetDisplay& o) const {
        return {header(Code::system), display_subcode(o.flag1, o.flag2)};
    }
    Request operator()(const op::SetKeyLock& o) const {
        return {header(Code::system), key_lock_subcode(o.locked)};
    }
    Request operator()(const op::SetUnit& o) const {
        Request request = channel_request(Code::set_unit, o.channel);
        request.push(unit_byte(o.unit));
        return request;
    }
    Request operator()(const op::ReadUnit& o) const {
        return channel_request(Code::read_unit, o.channel);
    }
    Request operator()(const op::ReadFlow& o) const {
        return channel_request(Code::read_flow, o.channel);
    }
    Request operator()(const op::ReadSetpoint& o) const {
        return channel_request(Code::read_setpoint, o.channel);
    }
    Request operator()(const op::ReadMaxflow& o) const {
        return channel_request(Code::read_maxflow, o.channel);
    }
    Request operator()(const op::ReadIntflow& o) const {
        return channel_request(Code::read_intflow, o.channel);
    }
    Request operator()(const op::ReadInttime&) const { return {header(Code::read_inttime)}; }
    Request operator()(const op::IntControl& o) const {
        // The control code is the instrument's: its low 8 bits go out unchecked, bit 7 included.
        return {header(Code::int_control), low_byte(o.control)};
    }
    Request operator()(const op::ReadRatioTotal&) const { return {header(Code::read_ratio_total)}; }
    Request operator()(const op::SetRatioTotal& o) const {
        const auto value = nibble_pair(o.config.value);
        return {header(Code::set_ratio_total), channel_byte(o.config.channel), value[0], value[1],
                channel_pair_byte(o.config.channel2, o.config.channel3)};
    }
    Request operator()(const op::ReadOnOff&) const { return {header(Code::read_on_off)}; }
    Request operator()(const op::SetOnOff& o) const {
        const auto state = nibble_pair(o.state);
        return {header(Code::set_on_off), state[0], state[1]};
    }
    Request operator()(const op::ControlRatioTotal& o) const {
        return {header(Code::control_ratio_total), remainder_byte(o.mode, 3)};
    }
    Request operator()(const op::SetSetpoint& o) const {
        return packed_float_request(Code::set_setpoint, o.channel, o.setpoint);
    }
    Request operator()(const op::SetMaxflow& o) const {
        Request request = packed_float_request(Code::set_maxflow, o.channel, o.maxflow);
        request.push(remainder_byte(o.code, 5));
        return request;
    }
};

// Reads the fields of a request whose length and command are right. With `judging`, it also
// names every field that the library's encoders could not have made.
class FieldReader {
  public:
    FieldReader(std::span<const std::uint8_t> bytes, ParsedRequest& parsed, bool judging)
        : bytes_(bytes), parsed_(parsed), judging_(judging) {}

    std::uint8_t at(std::size_t i) const { return bytes_[i]; }

    int channel(std::size_t i) {
        if (bytes_[i] > 0x07)
            problem("channel byte " + hex_byte(bytes_[i]) + " is outside 0x00 to 0x07");
        return channel_of(bytes_[i]);
    }

    int nibbles(std::size_t i, const char* what) {
        for (std::size_t j = i; j < i + 2; ++j) {
            if (bytes_[j] > 0x0F) {
                problem(std::string(what) + " byte " + hex_byte(bytes_[j]) +
                        " is outside 0x00 to 0x0F");
            }
        }
        return nibble_value(bytes_[i], bytes_[i + 1]);
    }

    float packed(std::size_t i) {
        if (bytes_[i] > 0x0F) {
            problem("the float's high-bit byte " + hex_byte(bytes_[i]) +
                    " is outside 0x00 to 0x0F");
        }
        return unpacked_float(bytes_.subspan(i).first<5>());
    }

    // A byte that remainder_byte() made with this divisor: 0 .. divisor-1, or a negative
    // remainder's low 8 bits.
    int remainder(std::size_t i, int divisor, const char* what) {
        const std::uint8_t byte = bytes_[i];
        if (byte >= divisor && byte <= 0x100 - divisor) {
            problem(std::string(what) + " byte " + hex_byte(byte) +
                    " is no remainder of a division by " + std::to_string(divisor));
        }
        bit7_note(what, byte);
        return signed_remainder(byte);
    }

    void bit7_note(const char* what, std::uint8_t byte) {
        if (judging_ && (byte & 0x80u)) {
            parsed_.notes.push_back(std::string(what) + " byte " + hex_byte(byte) +
                                    " has bit 7 set: the library sends it as given, but an "
                                    "instrument may take it for the start of a new request");
        }
    }

    void problem(std::string text) {
        if (judging_) parsed_.problems.push_back(std::move(text));
    }

  private:
    std::span<const std::uint8_t> bytes_;
    ParsedRequest& parsed_;
    bool judging_;
};

Operation read_operation(Code code, FieldReader& r) {
    switch (code) {
        case Code::system: {
            const std::uint8_t sub = r.at(1);
            if (sub == kSubReadVersion) return op::ReadVersion{};
            if ((sub & 0xFCu) == kSubDisplay) {
                const auto flags = display_flags_of(sub);
                return op::SetDisplay{flags[0], flags[1]};
            }
            return op::SetKeyLock{key_locked_of(sub)};
        }
        case Code::set_unit: {
            const int channel = r.channel(1);
            if (r.at(2) > 0x03)
                r.problem("unit byte " + hex_byte(r.at(2)) + " is outside 0x00 to 0x03");
            return op::SetUnit{channel, unit_of(r.at(2))};
        }
        case Code::read_unit:
            return op::ReadUnit{r.channel(1)};
        case Code::read_flow:
            return op::ReadFlow{r.channel(1)};
        case Code::read_setpoint:
            return op::ReadSetpoint{r.channel(1)};
        case Code::read_maxflow:
            return op::ReadMaxflow{r.channel(1)};
        case Code::read_intflow:
            return op::ReadIntflow{r.channel(1)};
        case Code::read_inttime:
            return op::ReadInttime{};
        case Code::int_control:
            r.bit7_note("control", r.at(1));
            return op::IntControl{r.at(1)};
        case Code::read_ratio_total:
            return op::ReadRatioTotal{};
        case Code::set_ratio_total: {
            RatioTotal config;
            config.channel = r.channel(1);
            config.value = r.nibbles(2, "value");
            if (r.at(4) & 0x88u) {
                r.problem("channels byte " + hex_byte(r.at(4)) +
                          " has bit 3 or 7 set (two channels of 3 bits each)");
            }
            const auto pair = channel_pair_of(r.at(4));
            config.channel2 = pair[0];
            config.channel3 = pair[1];
            return op::SetRatioTotal{config};
        }
        case Code::read_on_off:
            return op::ReadOnOff{};
        case Code::set_on_off:
            return op::SetOnOff{r.nibbles(1, "state")};
        case Code::control_ratio_total:
            return op::ControlRatioTotal{r.remainder(1, 3, "mode")};
        case Code::set_setpoint: {
            const int channel = r.channel(1);
            return op::SetSetpoint{channel, r.packed(2)};
        }
        case Code::set_maxflow: {
            const int channel = r.channel(1);
            const float maxflow = r.packed(2);
            return op::SetMaxflow{channel, maxflow, r.remainder(7, 5, "code")};
        }
    }
    return op::ReadVersion{};  // not reached: the code has four bits
}

}  // namespace

Request encode(const TypedRequest& request) {
    return std::visit(Encoder{request.address}, request.operation);
}

CommandInfo command_of(const Operation& operation) {
    const Request request = encode({1, operation});
    return *command_info(code_of(request.header()), request.size > 1 ? request.bytes[1] : 0);
}

std::string operation_name(std::string_view function) {
    constexpr std::string_view kPrefix = "QK42RT_";
    if (function.substr(0, kPrefix.size()) == kPrefix) function.remove_prefix(kPrefix.size());
    std::string name;
    for (const char c : function) {
        if (std::isupper(static_cast<unsigned char>(c))) {
            if (!name.empty()) name += ' ';
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else {
            name += c;
        }
    }
    return name;
}

ParsedRequest parse_request(std::span<const std::uint8_t> bytes) {
    ParsedRequest parsed;
    if (bytes.empty()) {
        parsed.problems.push_back("no request bytes");
        return parsed;
    }
    const std::uint8_t header = bytes[0];
    if (!(header & 0x80u)) {
        parsed.problems.push_back("first byte " + hex_byte(header) +
                                  " is no header: bit 7, which starts every request, is clear");
        return parsed;
    }
    const Code code = code_of(header);
    const std::size_t length = request_length(code);
    const std::uint8_t subcode = bytes.size() > 1 ? bytes[1] : 0;
    const auto info = command_info(code, subcode);
    parsed.command = info ? operation_name(info->name) : "system command";
    if (bytes.size() < length) {
        parsed.problems.push_back(parsed.command +
                                  " request cut short: " + std::to_string(bytes.size()) + " of " +
                                  std::to_string(length) + " bytes");
        return parsed;
    }
    if (bytes.size() > length) {
        parsed.problems.push_back(parsed.command +
                                  " request too long: " + std::to_string(bytes.size()) +
                                  " bytes instead of " + std::to_string(length));
        return parsed;
    }
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        if ((bytes[i] & 0x80u) && !may_carry_bit7(code, i)) {
            parsed.problems.push_back("data byte " + std::to_string(i + 1) + " (" +
                                      hex_byte(bytes[i]) +
                                      ") has bit 7 set: an instrument takes it for a new request");
        }
    }
    if (!info) {
        parsed.problems.push_back("unknown system sub-code " + hex_byte(subcode) +
                                  " (the library sends 0x00, 0x04 to 0x07, 0x20 and 0x30)");
        return parsed;
    }
    // Once a data byte has bit 7 set, its fields are read all the same, but not judged: that
    // one problem already says the library did not send these bytes.
    FieldReader reader(bytes, parsed, parsed.problems.empty());
    parsed.request = TypedRequest{address_of(header), read_operation(code, reader)};
    return parsed;
}

}  // namespace qk42rt::protocol
