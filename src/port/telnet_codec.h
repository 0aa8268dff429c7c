// The Telnet layer of an RFC 2217 line, without any I/O: splits what a server sends into data
// and commands, answers option negotiation, and escapes data on the way out.
//
// Written here rather than taken from a library: the one packaged Telnet library (libtelnet)
// has no build for the Windows DLLs, and the part a serial line needs (IAC doubling, four
// negotiation verbs, subnegotiation framing) is small enough to test byte for byte.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace qk42rt::telnet {

inline constexpr std::uint8_t kIac = 255;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kSe = 240;

inline constexpr std::uint8_t kBinary = 0;    // 8-bit data passes unchanged
inline constexpr std::uint8_t kComPort = 44;  // RFC 2217 COM-PORT-OPTION

// A subnegotiation the server sent: IAC SB option payload IAC SE, the payload unescaped.
struct Subnegotiation {
    std::uint8_t option = 0;
    std::vector<std::uint8_t> payload;
};

// Splits a server's byte stream. State carries over between calls, so a command may be split
// across reads anywhere.
class Decoder {
  public:
    // Decodes `raw` in place: the data bytes end up at its front, their count is returned.
    // Option requests are answered into answers(); subnegotiations are collected.
    std::size_t decode(std::span<std::uint8_t> raw);

    // What this side asks for at the start: WILL COM-PORT-OPTION, WILL and DO BINARY.
    std::vector<std::uint8_t> opening_requests();

    // Replies owed to the server (politely refusing options other than binary transmission
    // and the COM-PORT-OPTION); taken to be sent.
    std::vector<std::uint8_t> take_answers();
    std::vector<Subnegotiation> take_subnegotiations();

    bool we_will(std::uint8_t option) const { return options_[option].ours; }
    bool server_will(std::uint8_t option) const { return options_[option].theirs; }
    // The server answered DONT to an option this side asked to use, or WONT to one it asked
    // the server to use.
    bool refused(std::uint8_t option) const { return options_[option].refused; }

  private:
    enum class State { data, iac, verb, sb, sb_data, sb_iac };
    struct Option {
        bool ours = false;  // this side uses it
        bool ours_asked = false;
        bool theirs = false;  // the server uses it
        bool theirs_asked = false;
        bool refused = false;
    };
    static bool wanted(std::uint8_t option) { return option == kBinary || option == kComPort; }
    void negotiate(std::uint8_t verb, std::uint8_t option);
    void answer(std::uint8_t verb, std::uint8_t option);

    State state_ = State::data;
    std::uint8_t verb_ = 0;
    Subnegotiation current_;
    std::array<Option, 256> options_{};
    std::vector<std::uint8_t> answers_;
    std::vector<Subnegotiation> subnegotiations_;
};

// Appends `data` to `out`, every 0xFF doubled.
void escape(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out);

// IAC SB option payload... IAC SE, with 0xFF in the payload doubled.
std::vector<std::uint8_t> subnegotiation(std::uint8_t option,
                                         std::span<const std::uint8_t> payload);

}  // namespace qk42rt::telnet
