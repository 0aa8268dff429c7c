#include "port/device_string.h"

#include <algorithm>
#include <charconv>

namespace qk42rt {
namespace {

constexpr std::string_view kTcpScheme = "tcp://";
constexpr std::string_view kRfc2217Scheme = "rfc2217://";

DeviceStringError expected(std::string_view text, std::string_view what) {
    return {"bad device \"" + std::string(text) + "\": " + std::string(what)};
}

bool host_character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

bool ipv6_character(char c) {
    return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' ||
           c == '.' || c == '%';
}

}  // namespace

std::variant<HostPort, DeviceStringError> parse_host_port(std::string_view text,
                                                          bool allow_port_zero) {
    constexpr std::string_view kShape =
        "expected HOST:PORT (a name, an IPv4 address or a bracketed IPv6 address, then a port";
    const std::string shape =
        std::string(kShape) + (allow_port_zero ? " 0 to 65535)" : " 1 to 65535)");
    HostPort result;
    std::string_view rest;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos) return DeviceStringError{shape + "; no ']'"};
        const std::string_view address = text.substr(1, close - 1);
        if (address.empty() || address.find(':') == std::string_view::npos) {
            return DeviceStringError{shape + "; '" + std::string(address) + "' is no IPv6 address"};
        }
        // A link-local address may carry its interface after '%': fe80::1%eth0.
        const std::string_view zone = address.substr(std::min(address.find('%'), address.size()));
        for (char c : address.substr(0, address.size() - zone.size())) {
            if (!ipv6_character(c)) return DeviceStringError{shape};
        }
        for (char c : zone.substr(zone.empty() ? 0 : 1)) {
            if (!host_character(c)) return DeviceStringError{shape};
        }
        result.host = address;
        rest = text.substr(close + 1);
        if (rest.empty() || rest.front() != ':') return DeviceStringError{shape + "; no port"};
        rest.remove_prefix(1);
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string_view::npos) return DeviceStringError{shape + "; no port"};
        const std::string_view host = text.substr(0, colon);
        if (host.find(':') != std::string_view::npos) {
            return DeviceStringError{shape + "; put an IPv6 address in brackets"};
        }
        if (host.empty()) return DeviceStringError{shape + "; no host"};
        for (char c : host) {
            if (!host_character(c)) return DeviceStringError{shape};
        }
        result.host = host;
        rest = text.substr(colon + 1);
    }
    unsigned value = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (rest.empty() || error != std::errc{} || end != rest.data() + rest.size() || value > 65535 ||
        (value == 0 && !allow_port_zero)) {
        return DeviceStringError{shape + "; '" + std::string(rest) + "' is no port"};
    }
    result.port = static_cast<std::uint16_t>(value);
    return result;
}

std::variant<DeviceString, DeviceStringError> parse_device_string(std::string_view text) {
    DeviceString device;
    std::string_view rest;
    if (text.starts_with(kTcpScheme)) {
        device.kind = DeviceString::Kind::tcp;
        rest = text.substr(kTcpScheme.size());
    } else if (text.starts_with(kRfc2217Scheme)) {
        device.kind = DeviceString::Kind::rfc2217;
        rest = text.substr(kRfc2217Scheme.size());
    } else if (text.find("://") != std::string_view::npos) {
        return expected(text, "expected a device path, tcp://HOST:PORT or rfc2217://HOST:PORT");
    } else {
        if (text.empty()) return expected(text, "expected a device path");
        if (text.find('\0') != std::string_view::npos) {
            return expected(text, "a device path holds no NUL character");
        }
        device.path = text;
        return device;
    }
    const auto parsed = parse_host_port(rest);
    if (const auto* error = std::get_if<DeviceStringError>(&parsed)) {
        return expected(text, error->message);
    }
    const auto& host_port = std::get<HostPort>(parsed);
    device.host = host_port.host;
    device.port = host_port.port;
    return device;
}

std::string host_port_text(std::string_view host, std::uint16_t port) {
    const bool ipv6 = host.find(':') != std::string_view::npos;
    std::string text;
    if (ipv6) text += '[';
    text += host;
    if (ipv6) text += ']';
    text += ':';
    text += std::to_string(port);
    return text;
}

}  // namespace qk42rt
