#include "support/scripted_port.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace qk42rt::testing {

void ScriptedPort::clear_input() {
    pending_.clear();
    calls_ += calls_.empty() ? "clear" : " clear";
}

void ScriptedPort::write(std::span<const std::uint8_t> bytes) {
    requests_.emplace_back(bytes.begin(), bytes.end());
    calls_ += " write";
    if (!replies_.empty()) {
        pending_.insert(pending_.end(), replies_.front().begin(), replies_.front().end());
        replies_.pop_front();
    }
}

std::size_t ScriptedPort::read(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) {
    calls_ += " read(" + std::to_string(buffer.size()) + "," + std::to_string(limit.count()) + ")";
    const std::size_t n = std::min(buffer.size(), pending_.size());
    std::copy_n(pending_.begin(), n, buffer.begin());
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

std::size_t ScriptedPort::read_some(std::span<std::uint8_t> buffer,
                                    std::chrono::milliseconds limit) {
    calls_ +=
        " read_some(" + std::to_string(buffer.size()) + "," + std::to_string(limit.count()) + ")";
    const std::size_t n = std::min(buffer.size(), pending_.size());
    std::copy_n(pending_.begin(), n, buffer.begin());
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

Bytes hex(const std::string& text) {
    Bytes bytes;
    std::istringstream in(text);
    std::string token;
    while (in >> token) bytes.push_back(static_cast<std::uint8_t>(std::stoul(token, nullptr, 16)));
    return bytes;
}

std::string hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    char byte[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(byte, sizeof byte, "%02X", b);
        if (!text.empty()) text += ' ';
        text += byte;
    }
    return text;
}

}  // namespace qk42rt::testing
