// Opening a line: a serial port by number or path (one implementation per platform), or any
// device string.
#pragma once

#include <memory>
#include <string>

#include "port/port.h"

namespace qk42rt {

enum class OpenStatus {
    opened,            // port open, time-outs and line settings applied
    cannot_open,       // no such device, or another opener holds it
    settings_refused,  // opened, but the time-outs or line settings were refused; closed again
    bad_device,        // the device string names no line; nothing was opened
};

struct OpenResult {
    OpenStatus status = OpenStatus::cannot_open;
    std::unique_ptr<Port> port;  // set only when opened
    std::string reason;          // otherwise why, in a few words: "another program holds it"
};

// The device a port number names on this platform.
std::string device_for_port(int port_number);

// POSIX: port N is /dev/ttyS{N-1}, as Linux numbers its serial ports (COM1 is ttyS0).
std::string posix_device_name(int port_number);

// Opens `device` exclusively and applies the fixed line settings (9600 8N1, raw, no flow
// control, DTR and RTS off).
OpenResult open_serial_device(const std::string& device);

// Opens whatever `device` names: a path, tcp://HOST:PORT or rfc2217://HOST:PORT.
OpenResult open_device(const std::string& device);

// Tells the user that the port could not be opened ("can't open port!"); returns once the
// user has seen it (on Windows: after the message box is closed).
void report_open_failure();

}  // namespace qk42rt
