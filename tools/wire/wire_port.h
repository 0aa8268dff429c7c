// An in-memory port that hands the operations a reply seen on the wire: what the library would
// have made of those bytes is then the library's own judgement, not a second reading of them.
#pragma once

#include <cstdint>
#include <vector>

#include "port/port.h"

namespace qk42rt::wire {

using Bytes = std::vector<std::uint8_t>;

class WirePort final : public Port {
  public:
    explicit WirePort(Bytes reply) : reply_(std::move(reply)) {}

    // The reply stays until read: an operation clears the line before it writes.
    void clear_input() override {}
    void write(std::span<const std::uint8_t> bytes) override;
    std::size_t read(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) override;
    std::size_t read_some(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) override;

    // What the operation wrote.
    const Bytes& written() const { return written_; }

  private:
    Bytes reply_;
    std::size_t taken_ = 0;
    Bytes written_;
};

}  // namespace qk42rt::wire
