// The floor to compare against: one exchange written straight on the system calls (clear the
// input, write, wait with poll, read), with no library in between.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qk42rt::bench {

class BareLine {
  public:
    // Opens `device` raw at 9600 8N1, non-blocking; throws when it cannot.
    explicit BareLine(const std::string& device);
    ~BareLine();
    BareLine(const BareLine&) = delete;
    BareLine& operator=(const BareLine&) = delete;

    // Bytes received of `reply.size()`, within 500 ms of the start of the wait.
    std::size_t exchange(std::span<const std::uint8_t> request, std::span<std::uint8_t> reply);

  private:
    int fd_ = -1;
};

}  // namespace qk42rt::bench
