#include "lines.h"

#include <utility>

#include "port/held_port.h"
#include "port/open_port.h"

namespace qk42rt::bench::lines {

std::string hold(const std::string& device) {
    OpenResult opened = open_device(device);
    if (opened.status != OpenStatus::opened) {
        return opened.reason.empty() ? "cannot open " + device : opened.reason;
    }
    held_port::adopt(std::move(opened.port));
    return {};
}

void release() {
    held_port::close();
}

ExportedCalls calls() {
    return exported_calls();
}

}  // namespace qk42rt::bench::lines
