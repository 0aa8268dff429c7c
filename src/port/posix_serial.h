// A serial device on POSIX: termios line settings, poll-based timed read.
#pragma once

#include <atomic>
#include <string>

#include "port/open_port.h"
#include "port/port.h"

namespace qk42rt {

class PosixSerial final : public Port {
  public:
    explicit PosixSerial(int fd) : fd_(fd) {}
    ~PosixSerial() override;
    PosixSerial(const PosixSerial&) = delete;
    PosixSerial& operator=(const PosixSerial&) = delete;

    void clear_input() override;
    void write(std::span<const std::uint8_t> bytes) override;
    std::size_t read(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) override;
    std::size_t read_some(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) override;

    bool hung_up() const override { return hung_up_; }

    int fd() const { return fd_; }

  private:
    // Until the buffer is full (`some`: until any byte is in), the limit, or a hang-up.
    std::size_t receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit, bool some);

    int fd_;
    std::atomic<bool> hung_up_{false};  // a relay's writing thread may ask
};

// Asks the driver to hand on received bytes at once (ASYNC_LOW_LATENCY, as `setserial
// low_latency` does): USB adapters otherwise hold a short reply for their latency timer, 16 ms
// on FTDI chips. True when the driver has the flag set; false where it has no such setting
// (pseudo-terminals, non-Linux systems) or refuses it, which changes nothing else.
bool request_low_latency(int fd);

}  // namespace qk42rt
