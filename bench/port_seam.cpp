// Points the library's port numbers at the simulator's pseudo-terminal, so that the benchmark
// never opens one of the machine's own serial devices. The library finds this function with
// dlsym, so the program is linked with its symbols exported.
#include "port_seam.h"

#include <string>

namespace {

std::string g_device = "/nonexistent/qk42rt-bench-port";

}  // namespace

namespace qk42rt::bench {

void point_port_at(const std::string& device) {
    g_device = device;
}

}  // namespace qk42rt::bench

extern "C" __attribute__((visibility("default"))) const char* qk42rt_test_device_for_port(
    int port) {
    if (port == qk42rt::bench::kBenchPort) return g_device.c_str();
    return "/nonexistent/qk42rt-bench-port";
}
