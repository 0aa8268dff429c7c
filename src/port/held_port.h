// The one serial port the process holds between InitPort and ClosePort. Closed when the
// library is unloaded or the process ends. Not thread-safe: callers serialize.
#pragma once

#include <memory>

#include "port/port.h"

namespace qk42rt::held_port {

// Closes any held port, then opens port `port_number`. True when a port is now held.
bool init(int port_number);

// Closes any held port and holds `port` instead: for tools and tests that bring their own
// line (a scripted port, a device opened by path).
void adopt(std::unique_ptr<Port> port);

// Closes the held port, if any.
void close();

// The held port, or nullptr.
Port* get();

}  // namespace qk42rt::held_port
