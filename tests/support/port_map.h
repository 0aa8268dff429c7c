// Points port numbers at pseudo-terminals for this test program, so that QK42RT_InitPort(n)
// opens a test line and never one of the machine's own serial devices. Works for the static
// core and for a copy of the shared library that the program loads with dlopen.
#pragma once

#include <string>

namespace qk42rt::testing {

inline constexpr int kTestPort = 42;     // a port number tests map to their pseudo-terminal
inline constexpr int kMissingPort = 43;  // a port number mapped to a path that does not exist

void map_port(int port, const std::string& device);
void unmap_ports();

}  // namespace qk42rt::testing
