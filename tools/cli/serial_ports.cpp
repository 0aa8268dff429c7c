#include "serial_ports.h"

#include <algorithm>
#include <cctype>
#include <tuple>

namespace qk42rt::cli {
namespace {

// A device name split for sorting as people count: "/dev/ttyS" and "10".
std::tuple<std::string_view, std::size_t, std::string_view> sort_key(std::string_view device) {
    std::size_t digits = device.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(device[digits - 1]))) --digits;
    std::string_view number = device.substr(digits);
    while (number.size() > 1 && number.front() == '0') number.remove_prefix(1);
    // A longer number (without leading zeros) is a larger one.
    return {device.substr(0, digits), number.size(), number};
}

nlohmann::ordered_json optional_text(const std::optional<std::string>& text) {
    if (text) return *text;
    return nullptr;
}

std::string cell(const std::optional<std::string>& text) {
    return text ? *text : "-";
}

}  // namespace

bool is_unused_legacy_port(const SerialPort& port) {
    return port.uart_type == 0;
}

std::vector<SerialPort> ports_to_show(std::vector<SerialPort> ports, bool all) {
    if (!all) std::erase_if(ports, is_unused_legacy_port);
    std::sort(ports.begin(), ports.end(), [](const SerialPort& a, const SerialPort& b) {
        return sort_key(a.device) < sort_key(b.device);
    });
    return ports;
}

std::optional<std::string> first_link_to(const std::vector<DeviceLink>& links,
                                         std::string_view device_real_path) {
    for (const DeviceLink& link : links) {
        if (link.target == device_real_path) return link.link;
    }
    return std::nullopt;
}

std::optional<std::string> usb_id(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    if (text.empty() || text.size() > 4) return std::nullopt;
    std::string id(4 - text.size(), '0');
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return id;
}

Record port_record(const SerialPort& port) {
    return {{"device", port.device},
            {"by_id", optional_text(port.by_id)},
            {"by_path", optional_text(port.by_path)},
            {"driver", optional_text(port.driver)},
            {"usb_vid", optional_text(port.usb_vid)},
            {"usb_pid", optional_text(port.usb_pid)},
            {"serial_number", optional_text(port.serial_number)},
            {"manufacturer", optional_text(port.manufacturer)},
            {"product", optional_text(port.product)}};
}

std::vector<std::string> ports_table_header() {
    return {"device",       "driver",  "usb id", "serial number",
            "manufacturer", "product", "by-id",  "by-path"};
}

std::vector<std::string> port_row(const SerialPort& port) {
    std::string driver = cell(port.driver);
    // Shown only with --all; say why it is left out otherwise.
    if (is_unused_legacy_port(port)) driver += " (no UART)";
    std::string usb = "-";
    if (port.usb_vid || port.usb_pid) usb = cell(port.usb_vid) + ":" + cell(port.usb_pid);
    return {port.device,
            driver,
            usb,
            cell(port.serial_number),
            cell(port.manufacturer),
            cell(port.product),
            cell(port.by_id),
            cell(port.by_path)};
}

}  // namespace qk42rt::cli
