// An in-memory port for byte-exact protocol tests: records every request and plays back a
// scripted reply for each write (exact, short, long or none). Surplus bytes of a long reply
// stay pending until the next clear, as on a real line.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "port/port.h"

namespace qk42rt::testing {

using Bytes = std::vector<std::uint8_t>;

class ScriptedPort final : public Port {
  public:
    // The reply the line carries after the next write (empty: no reply).
    void script(Bytes reply) { replies_.push_back(std::move(reply)); }

    void clear_input() override;
    void write(std::span<const std::uint8_t> bytes) override;
    std::size_t read(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) override;
    // Everything pending at once, as a line delivers what has arrived.
    std::size_t read_some(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) override;

    const std::vector<Bytes>& requests() const { return requests_; }
    const Bytes& last_request() const { return requests_.back(); }
    // The port calls in order, e.g. "clear write read(5)".
    const std::string& calls() const { return calls_; }
    std::size_t pending() const { return pending_.size(); }

  private:
    std::deque<Bytes> replies_;
    Bytes pending_;
    std::vector<Bytes> requests_;
    std::string calls_;
};

// Lends a port the test keeps to an owner that wants a unique_ptr (the held port).
class BorrowedPort final : public Port {
  public:
    explicit BorrowedPort(Port& port) : port_(port) {}
    void clear_input() override { port_.clear_input(); }
    void write(std::span<const std::uint8_t> bytes) override { port_.write(bytes); }
    std::size_t read(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) override {
        return port_.read(buffer, limit);
    }
    std::size_t read_some(std::span<std::uint8_t> buffer,
                          std::chrono::milliseconds limit) override {
        return port_.read_some(buffer, limit);
    }

  private:
    Port& port_;
};

// "8E 00 04" <-> bytes, for readable tables.
Bytes hex(const std::string& text);
std::string hex(std::span<const std::uint8_t> bytes);

}  // namespace qk42rt::testing
