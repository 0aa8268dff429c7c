// The text of QK42RT_PORT_MAP: comma-separated entries PORT=DEVICE, for example
// "5=/tmp/qk42rt-sim-tty,6=/dev/pts/7".
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qk42rt::portmap {

struct PortMap {
    std::map<int, std::string> devices;  // port number -> device path
    std::vector<std::string> rejected;   // entries that were not PORT=DEVICE, as written
};

// Blanks around ports and devices are dropped; empty entries are skipped. A port must be a
// decimal int (a sign allowed) and a device must not be empty; anything else is rejected
// rather than guessed at. A port named twice keeps its last device.
PortMap parse_port_map(std::string_view text);

}  // namespace qk42rt::portmap
