// The instruments this server serves, and what each said of its version.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "commands/commands.h"

namespace qk42rt::server {

class Instruments {
  public:
    explicit Instruments(std::vector<int> addresses) : addresses_(std::move(addresses)) {}

    const std::vector<int>& addresses() const { return addresses_; }
    bool serves(int address) const;

    void set_version(int address, const commands::Version& version);
    std::optional<commands::Version> version(int address) const;

  private:
    const std::vector<int> addresses_;
    mutable std::mutex mutex_;
    std::map<int, commands::Version> versions_;
};

}  // namespace qk42rt::server
