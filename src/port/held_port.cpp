#include "port/held_port.h"

#include <memory>

#include "port/open_port.h"

namespace qk42rt::held_port {
namespace {

// Its destructor is the unload hook: it runs when the library is unloaded (dlclose,
// FreeLibrary) and when the process exits with the library loaded, closing a held port.
std::unique_ptr<Port> g_port;

}  // namespace

bool init(int port_number) {
    g_port.reset();
    OpenResult opened = open_serial_device(device_for_port(port_number));
    switch (opened.status) {
        case OpenStatus::opened:
            g_port = std::move(opened.port);
            return true;
        case OpenStatus::cannot_open:
        case OpenStatus::bad_device:
            report_open_failure();
            return false;
        case OpenStatus::settings_refused:
            return false;
    }
    return false;
}

void adopt(std::unique_ptr<Port> port) {
    g_port.reset();
    g_port = std::move(port);
}

void close() {
    g_port.reset();
}

Port* get() {
    return g_port.get();
}

}  // namespace qk42rt::held_port
