// Port number N names /dev/ttyS{N-1}: COM1 is /dev/ttyS0, as Linux numbers its serial ports.
#include <dlfcn.h>

#include <string>

#include "port/open_port.h"

namespace qk42rt {

std::string device_for_port(int port_number) {
    // Test seam: a test program may define this C function to point port numbers at a
    // pseudo-terminal, so that no test ever opens the machine's own serial devices.
    using Override = const char* (*)(int);
    if (auto hook =
            reinterpret_cast<Override>(dlsym(RTLD_DEFAULT, "qk42rt_test_device_for_port"))) {
        if (const char* device = hook(port_number)) return device;
    }
    return posix_device_name(port_number);
}

std::string posix_device_name(int port_number) {
    // Computed in long long: N-1 cannot overflow for any int.
    return "/dev/ttyS" + std::to_string(static_cast<long long>(port_number) - 1);
}

}  // namespace qk42rt
