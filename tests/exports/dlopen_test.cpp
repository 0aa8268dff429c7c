// The shared library, loaded with dlopen and holding a port, releases it at dlclose.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "port/open_port.h"
#include "port_holder.h"
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

// Exclusive mode outlives a bare close() of a pseudo-terminal whose master stays open, so a
// process that ended without the hook would leave the line locked against other openers.
TEST(SharedLibrary, ProcessExitClosesTheHeldPort) {
    PtyPeer peer([](const Bytes&) { return std::vector<Chunk>{}; });
    ASSERT_EQ(run_port_holder(peer.slave_path()), 0) << "the other process could not open";
    const int fd = open_raw(peer.slave_path());
    ASSERT_GE(fd, 0);
    int exclusive = -1;
    ASSERT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "the port was not closed by the library at exit";
    close(fd);
}

}  // namespace
}  // namespace qk42rt::testing
