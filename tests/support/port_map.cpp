#include "support/port_map.h"

#include <map>
#include <mutex>

namespace {

std::mutex g_mutex;
std::map<int, std::string> g_devices;

}  // namespace

namespace qk42rt::testing {

void map_port(int port, const std::string& device) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_devices[port] = device;
}

void unmap_ports() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_devices.clear();
}

}  // namespace qk42rt::testing

// Looked up by the library. Unmapped numbers go to a path that never exists, so a test
// cannot reach a real serial device by mistake.
extern "C" __attribute__((visibility("default"))) const char* qk42rt_test_device_for_port(
    int port) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto found = g_devices.find(port);
    if (found != g_devices.end()) return found->second.c_str();
    return "/nonexistent/qk42rt-test-port";
}
