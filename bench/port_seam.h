// The one port number the benchmark uses, and where it leads.
#pragma once

#include <string>

namespace qk42rt::bench {

inline constexpr int kBenchPort = 42;

// From now on QK42RT_InitPort(kBenchPort) opens `device`; every other number opens nothing.
void point_port_at(const std::string& device);

}  // namespace qk42rt::bench
