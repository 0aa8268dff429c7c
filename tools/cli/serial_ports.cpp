#include "serial_ports.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <iterator>
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

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool starts_with_no_case(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) !=
            std::toupper(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

// The parts of `text` between the separators.
std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

// VID_0403 and PID_6001 among the fields of a hardware id.
void take_usb_ids(const std::vector<std::string_view>& fields, InstanceIdDetails& details) {
    for (std::string_view field : fields) {
        if (starts_with_no_case(field, "VID_")) details.usb_vid = usb_id(field.substr(4));
        if (starts_with_no_case(field, "PID_")) details.usb_pid = usb_id(field.substr(4));
    }
}

std::string latency_cell(const SerialPort& port) {
    if (!port.latency_timer_ms) return "-";
    std::string text = std::to_string(*port.latency_timer_ms) + " ms";
    if (latency_is_high(port)) text += " (high)";
    return text;
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

bool latency_is_high(const SerialPort& port) {
    return port.latency_timer_ms && *port.latency_timer_ms > 1;
}

std::optional<int> read_latency_timer(const std::filesystem::path& sysfs_root,
                                      std::string_view tty_name) {
    // A name that climbs out of the devices folder names no tty.
    if (tty_name.empty() || tty_name.find('/') != std::string_view::npos || tty_name == "." ||
        tty_name == "..") {
        return std::nullopt;
    }
    std::ifstream file(sysfs_root / "bus/usb-serial/devices" / tty_name / "latency_timer");
    if (!file) return std::nullopt;
    // sysfs attributes are one short line; more than that is not the file meant here.
    char buffer[32] = {};
    file.read(buffer, sizeof buffer);
    const std::string_view text = trimmed({buffer, static_cast<std::size_t>(file.gcount())});
    int ms = -1;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
    if (error != std::errc() || end != text.data() + text.size() || ms < 0) return std::nullopt;
    return ms;
}

InstanceIdDetails parse_instance_id(std::string_view id) {
    InstanceIdDetails details;
    const std::vector<std::string_view> parts = split(id, '\\');
    if (parts.size() != 3) return details;
    if (starts_with_no_case(parts[0], "USB") && parts[0].size() == 3) {
        const std::vector<std::string_view> fields = split(parts[1], '&');
        take_usb_ids(fields, details);
        // One interface of a composite device (MI_00), or a device without a serial number of
        // its own: the last part is then Windows' own, with '&' in it.
        const bool one_interface =
            std::any_of(fields.begin(), fields.end(),
                        [](std::string_view f) { return starts_with_no_case(f, "MI_"); });
        if (!one_interface && !parts[2].empty() && parts[2].find('&') == std::string_view::npos) {
            details.serial_number = std::string(parts[2]);
        }
    } else if (starts_with_no_case(parts[0], "FTDIBUS") && parts[0].size() == 7) {
        // VID_0403+PID_6001+A50285BIA: the serial number with the chip's port letter (A to D)
        // appended.
        const std::vector<std::string_view> fields = split(parts[1], '+');
        take_usb_ids(fields, details);
        if (fields.size() == 3 && fields[2].size() > 1) {
            const char port = fields[2].back();
            if (port >= 'A' && port <= 'D') {
                details.serial_number = std::string(fields[2].substr(0, fields[2].size() - 1));
            }
        }
    }
    return details;
}

Record port_record(const SerialPort& port) {
    return {
        {"device", port.device},
        {"by_id", optional_text(port.by_id)},
        {"by_path", optional_text(port.by_path)},
        {"driver", optional_text(port.driver)},
        {"usb_vid", optional_text(port.usb_vid)},
        {"usb_pid", optional_text(port.usb_pid)},
        {"serial_number", optional_text(port.serial_number)},
        {"manufacturer", optional_text(port.manufacturer)},
        {"product", optional_text(port.product)},
        {"latency_timer_ms", port.latency_timer_ms ? nlohmann::ordered_json(*port.latency_timer_ms)
                                                   : nlohmann::ordered_json(nullptr)},
        {"latency_high", port.latency_timer_ms ? nlohmann::ordered_json(latency_is_high(port))
                                               : nlohmann::ordered_json(nullptr)}};
}

std::vector<std::string> ports_table_header() {
    return {"device",  "driver",  "usb id", "serial number", "manufacturer",
            "product", "latency", "by-id",  "by-path"};
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
            latency_cell(port),
            cell(port.by_id),
            cell(port.by_path)};
}

std::optional<std::string> latency_note(const SerialPort& port) {
    if (!latency_is_high(port)) return std::nullopt;
    return "note: " + port.device + " holds every short reply up to " +
           std::to_string(*port.latency_timer_ms) +
           " ms (its latency timer); qk42rt asks its driver for low latency when it opens it";
}

}  // namespace qk42rt::cli
