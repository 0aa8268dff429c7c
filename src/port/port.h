// The three things the protocol needs from a serial line. Implemented by the POSIX and Win32
// serial ports and by the in-memory port of the unit tests.
#pragma once

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
};

}  // namespace qk42rt
