// The shared library, loaded with dlopen and holding a port, releases it at dlclose.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "port/open_port.h"
#include "support/port_map.h"
#include "support/pty_peer.h"

namespace qk42rt::testing {
namespace {

TEST(SharedLibrary, UnloadClosesTheHeldPort) {
    PtyPeer peer([](const Bytes&) { return std::vector<Chunk>{}; });
    map_port(kTestPort, peer.slave_path());

    void* library = dlopen(QK42RT_SHARED_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto init = reinterpret_cast<int (*)(int)>(dlsym(library, "QK42RT_InitPort"));
    ASSERT_NE(init, nullptr);
    EXPECT_EQ(dlsym(library, "_ZN6qk42rt10held_port3getEv"), nullptr) << "internals exported";
    ASSERT_EQ(init(kTestPort), 1);

    EXPECT_EQ(open_serial_device(peer.slave_path()).status, OpenStatus::cannot_open);
    ASSERT_EQ(dlclose(library), 0);
    EXPECT_EQ(open_serial_device(peer.slave_path()).status, OpenStatus::opened);
    unmap_ports();
}

}  // namespace
}  // namespace qk42rt::testing
