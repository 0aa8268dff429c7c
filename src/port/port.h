// The three things the protocol needs from a line to the instrument. Implemented by the POSIX
// and Win32 serial ports, the device-server lines (raw TCP, RFC 2217) and the in-memory port
// of the unit tests.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

namespace qk42rt {

// How long the instrument has to answer, counted from the start of the read.
inline constexpr std::chrono::milliseconds kReplyTimeout{500};

class Port {
  public:
    virtual ~Port() = default;

    // Discards every byte waiting on the receive side; pending output is left alone.
    virtual void clear_input() = 0;

    // Sends all of `bytes`. Its outcome is not looked at by the protocol.
    virtual void write(std::span<const std::uint8_t> bytes) = 0;

    // Receives up to buffer.size() bytes, returning as soon as that many have arrived or
    // `limit` after the call began. Yields the count received (0 on failure).
    virtual std::size_t read(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) = 0;

    // Whatever has arrived, up to buffer.size() bytes: returns as soon as at least one byte is
    // in, at `limit`, or when the line hangs up (hung_up() then says so). For relays, which
    // pass bytes on as they come. Lines that cannot do better take one byte at a time.
    virtual std::size_t read_some(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) {
        return read(buffer.first(std::min<std::size_t>(buffer.size(), 1)), limit);
    }

    // The line has gone for good: the device hung up or the server dropped the connection.
    // Every later read finds nothing at once; only opening the line again helps.
    virtual bool hung_up() const { return false; }
};

}  // namespace qk42rt
