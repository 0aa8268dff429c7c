#include <variant>

#include "port/device_string.h"
#include "port/open_port.h"
#include "port/rfc2217_line.h"
#include "port/tcp_line.h"

namespace qk42rt {

OpenResult open_device(const std::string& device) {
    const auto parsed = parse_device_string(device);
    if (const auto* error = std::get_if<DeviceStringError>(&parsed)) {
        OpenResult result;
        result.status = OpenStatus::bad_device;
        result.reason = error->message;
        return result;
    }
    const DeviceString& line = std::get<DeviceString>(parsed);
    switch (line.kind) {
        case DeviceString::Kind::tcp:
            return TcpLine::open(line.host, line.port);
        case DeviceString::Kind::rfc2217:
            return Rfc2217Line::open(line.host, line.port);
        case DeviceString::Kind::path:
            break;
    }
    return open_serial_device(line.path);
}

}  // namespace qk42rt
