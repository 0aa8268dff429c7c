// A device server in Telnet mode with the COM-PORT-OPTION (RFC 2217): the library sets the
// server's serial line to 9600 8N1 without flow control, DTR and RTS off, and waits for the
// server to confirm before the line counts as open. Every exchange asks the server to purge
// what its serial port received, as a local port clears its receive side.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/line_lock.h"
#include "port/open_port.h"
#include "port/port.h"
#include "port/socket.h"
#include "port/telnet_codec.h"

namespace qk42rt {

// COM-PORT-OPTION commands; the server answers each with its code + 100.
namespace com_port {
inline constexpr std::uint8_t kSetBaudRate = 1;
inline constexpr std::uint8_t kSetDataSize = 2;
inline constexpr std::uint8_t kSetParity = 3;
inline constexpr std::uint8_t kSetStopSize = 4;
inline constexpr std::uint8_t kSetControl = 5;
inline constexpr std::uint8_t kSetLineStateMask = 10;
inline constexpr std::uint8_t kSetModemStateMask = 11;
inline constexpr std::uint8_t kPurgeData = 12;
inline constexpr std::uint8_t kServerOffset = 100;

inline constexpr std::uint8_t kParityNone = 1;
inline constexpr std::uint8_t kOneStopBit = 1;
inline constexpr std::uint8_t kNoFlowControlOut = 1;
inline constexpr std::uint8_t kDtrOff = 9;
inline constexpr std::uint8_t kRtsOff = 12;
inline constexpr std::uint8_t kNoFlowControlIn = 14;
inline constexpr std::uint8_t kPurgeServerReceive = 1;
}  // namespace com_port

// The serial settings as the server reported them in its answers.
struct ServerSettings {
    std::optional<std::uint32_t> baud_rate;
    std::optional<std::uint8_t> data_size;
    std::optional<std::uint8_t> parity;
    std::optional<std::uint8_t> stop_size;
    std::optional<std::uint8_t> flow_control_out;  // SET-CONTROL answers, by group
    std::optional<std::uint8_t> flow_control_in;
    std::optional<std::uint8_t> dtr;
    std::optional<std::uint8_t> rts;
};

class Rfc2217Line final : public Port {
  public:
    // Connects and negotiates, all within the connect limit.
    static OpenResult open(const std::string& host, std::uint16_t port);

    void clear_input() override;
    void write(std::span<const std::uint8_t> bytes) override;
    std::size_t read(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) override;
    std::size_t read_some(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) override;
    bool hung_up() const override { return socket_->closed(); }

    const ServerSettings& server_settings() const { return settings_; }

  private:
    explicit Rfc2217Line(std::unique_ptr<net::Socket> socket) : socket_(std::move(socket)) {}

    // Empty when the server agreed to everything; otherwise why not.
    std::optional<std::string> negotiate(net::Clock::time_point deadline);
    bool settings_answered() const;
    std::optional<std::string> settings_differ() const;
    // Decodes freshly received bytes in place; answers the server and notes its reports.
    std::size_t take_in(std::span<std::uint8_t> raw);
    void note(const telnet::Subnegotiation& answer);
    void send(std::span<const std::uint8_t> bytes);

    std::unique_ptr<net::Socket> socket_;
    // A read answers the server's negotiation, so a relay that reads on one thread and writes
    // on another sends from both: one send at a time keeps Telnet commands whole. The lines'
    // lock, since the Windows DLL carries no thread library for a std::mutex.
    host::LineLock send_lock_;
    telnet::Decoder decoder_;
    ServerSettings settings_;
    std::vector<std::uint8_t> outgoing_;  // a purge request waiting for the next write
};

}  // namespace qk42rt
