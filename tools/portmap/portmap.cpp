// libqk42rt-portmap.so: preloaded into a host that only knows port numbers, it points those
// numbers at other devices (a simulator's pseudo-terminal, a USB adapter) without changing
// the host or the library:
//
//   LD_PRELOAD=libqk42rt-portmap.so QK42RT_PORT_MAP=5=/tmp/qk42rt-sim-tty host
//
// The library asks qk42rt_test_device_for_port before it names /dev/ttyS{N-1}; a port that
// is not in the map keeps that usual device.
#include <cstdio>
#include <cstdlib>

#include "port_map_text.h"

namespace {

// Read once, at the first port the host opens, so that every path handed out stays valid
// for the life of the process. Thread-safe by the rules of function-local statics.
const qk42rt::portmap::PortMap& port_map() {
    static const qk42rt::portmap::PortMap map = [] {
        const char* text = std::getenv("QK42RT_PORT_MAP");
        auto parsed = qk42rt::portmap::parse_port_map(text ? text : "");
        // A typo would otherwise send the host to a real serial port without a word.
        for (const auto& entry : parsed.rejected)
            std::fprintf(stderr,
                         "qk42rt-portmap: ignoring \"%s\" in QK42RT_PORT_MAP (not PORT=DEVICE)\n",
                         entry.c_str());
        return parsed;
    }();
    return map;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const char* qk42rt_test_device_for_port(
    int port) {
    try {
        const auto& devices = port_map().devices;
        auto found = devices.find(port);
        return found == devices.end() ? nullptr : found->second.c_str();
    } catch (...) {
        // Out of memory while reading the map: no mapping rather than an exception into C.
        return nullptr;
    }
}
