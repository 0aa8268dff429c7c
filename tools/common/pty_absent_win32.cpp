// Windows has no pseudo-terminals: the simulator serves TCP there, and nothing makes links.
#include <stdexcept>

#include "link_file.h"
#include "pty_master.h"

namespace qk42rt {
namespace {

[[noreturn]] void absent() {
    throw std::runtime_error(
        "Windows has no pseudo-terminals: serve on TCP with --tcp HOST:PORT --no-pty");
}

}  // namespace

PtyMaster PtyMaster::open() {
    absent();
}
bool PtyMaster::write_all(std::span<const std::uint8_t>) const {
    return false;
}
std::ptrdiff_t PtyMaster::read_some(std::span<std::uint8_t>) const {
    return -1;
}
bool PtyMaster::host_has_opened() const {
    return false;
}

void point_link(const std::string&, const std::string&) {
    absent();
}
void remove_link(const std::string&, const std::string&) {}

}  // namespace qk42rt
