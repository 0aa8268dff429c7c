#include "instruments.h"

#include <algorithm>

namespace qk42rt::server {

bool Instruments::serves(int address) const {
    return std::find(addresses_.begin(), addresses_.end(), address) != addresses_.end();
}

void Instruments::set_version(int address, const commands::Version& version) {
    std::lock_guard lock(mutex_);
    versions_[address] = version;
}

std::optional<commands::Version> Instruments::version(int address) const {
    std::lock_guard lock(mutex_);
    const auto found = versions_.find(address);
    if (found == versions_.end()) return std::nullopt;
    return found->second;
}

}  // namespace qk42rt::server
