// The one way the project names a line: a device path, "tcp://HOST:PORT" (a device server in
// raw mode) or "rfc2217://HOST:PORT" (a Telnet server with the COM-PORT-OPTION).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace qk42rt {

struct DeviceString {
    enum class Kind { path, tcp, rfc2217 };
    Kind kind = Kind::path;
    std::string path;        // for Kind::path
    std::string host;        // name, IPv4 address, or IPv6 address without its brackets
    std::uint16_t port = 0;  // 1..65535 for the network kinds
};

// A device string that cannot name a line; `message` says what was expected.
struct DeviceStringError {
    std::string message;
};

// Parses `text`; nothing is opened or looked up.
std::variant<DeviceString, DeviceStringError> parse_device_string(std::string_view text);

// HOST:PORT as typed after a scheme (also the simulator's --tcp and the server's --listen):
// a name, an IPv4 address or a bracketed IPv6 address, then a port. `allow_port_zero` lets a
// listener ask for any free port.
struct HostPort {
    std::string host;
    std::uint16_t port = 0;
};
std::variant<HostPort, DeviceStringError> parse_host_port(std::string_view text,
                                                          bool allow_port_zero = false);

// "tcp://[::1]:4001": brackets back around an IPv6 address.
std::string host_port_text(std::string_view host, std::uint16_t port);

}  // namespace qk42rt
