#include "wire_port.h"

#include <algorithm>

namespace qk42rt::wire {

void WirePort::write(std::span<const std::uint8_t> bytes) {
    written_.insert(written_.end(), bytes.begin(), bytes.end());
}

std::size_t WirePort::read(std::span<std::uint8_t> buffer, std::chrono::milliseconds) {
    const std::size_t n = std::min(buffer.size(), reply_.size() - taken_);
    std::copy_n(reply_.begin() + static_cast<std::ptrdiff_t>(taken_), n, buffer.begin());
    taken_ += n;
    return n;
}

std::size_t WirePort::read_some(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) {
    return read(buffer, limit);
}

}  // namespace qk42rt::wire
