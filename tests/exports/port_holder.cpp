// A separate host process for the tests: loads the shared library, points every port number
// at the device named on the command line, calls QK42RT_InitPort and leaves without
// QK42RT_ClosePort. The tests start it afresh (spawn and exec) rather than forking themselves,
// because a forked copy of a threaded test program may inherit locks that another thread held.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace {
const char* g_device = "/nonexistent/qk42rt-test-port";
}

extern "C" __attribute__((visibility("default"))) const char* qk42rt_test_device_for_port(int) {
    return g_device;
}

// Exit status: 0 when QK42RT_InitPort returned 1, 1 when it returned 0, 2 on a usage or load
// failure.
int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s LIBRARY DEVICE\n", argv[0]);
        return 2;
    }
    g_device = argv[2];
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    auto init = reinterpret_cast<int (*)(int)>(dlsym(library, "QK42RT_InitPort"));
    if (init == nullptr) return 2;
    std::exit(init(1) == 1 ? 0 : 1);  // exit with the port held
}
