// find_serial_ports() on Linux: the tty devices that libudev finds in sysfs, and the links to
// them under /dev/serial. Nothing here opens a device.
#include <libudev.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "serial_ports.h"

namespace qk42rt::cli {
namespace {

namespace fs = std::filesystem;

struct UdevUnref {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <class T>
using UdevPtr = std::unique_ptr<T, UdevUnref>;

std::string_view text_or_empty(const char* text) {
    return text != nullptr ? std::string_view(text) : std::string_view();
}

// A sysfs attribute without its surrounding white space; empty when missing or blank.
std::optional<std::string> attribute(udev_device* device, const char* name) {
    std::string_view value = text_or_empty(udev_device_get_sysattr_value(device, name));
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!value.empty() && blank(value.front())) value.remove_prefix(1);
    while (!value.empty() && blank(value.back())) value.remove_suffix(1);
    if (value.empty()) return std::nullopt;
    return std::string(value);
}

std::optional<int> uart_type(udev_device* tty) {
    const std::optional<std::string> text = attribute(tty, "type");
    if (!text) return std::nullopt;
    try {
        return std::stoi(*text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Newer kernels put serial-base devices (a controller, then a port) between the tty and the
// device that drives it; the driver worth naming is the one above them.
std::optional<std::string> driver_of(udev_device* tty) {
    udev_device* parent = udev_device_get_parent(tty);
    while (parent != nullptr && text_or_empty(udev_device_get_subsystem(parent)) == "serial-base") {
        parent = udev_device_get_parent(parent);
    }
    if (parent == nullptr) return std::nullopt;
    const char* driver = udev_device_get_driver(parent);
    if (driver == nullptr || *driver == '\0') return std::nullopt;
    return std::string(driver);
}

void add_usb_details(udev_device* tty, SerialPort& port) {
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
    if (usb == nullptr) return;
    if (const auto vid = attribute(usb, "idVendor")) port.usb_vid = usb_id(*vid);
    if (const auto pid = attribute(usb, "idProduct")) port.usb_pid = usb_id(*pid);
    port.serial_number = attribute(usb, "serial");
    port.manufacturer = attribute(usb, "manufacturer");
    port.product = attribute(usb, "product");
}

std::string real_path(const std::string& path) {
    std::error_code error;
    const fs::path resolved = fs::canonical(path, error);
    return error ? path : resolved.string();
}

// The symbolic links in `directory`, in the order of their names; none when it is missing
// (no udev daemon, or no port with such a name).
std::vector<DeviceLink> links_in(const fs::path& directory) {
    std::vector<DeviceLink> links;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code link_error;
        if (!it->is_symlink(link_error)) continue;
        const fs::path target = fs::canonical(it->path(), link_error);
        if (link_error) continue;  // a dangling link: its device is gone
        links.push_back({it->path().string(), target.string()});
    }
    std::sort(links.begin(), links.end(),
              [](const DeviceLink& a, const DeviceLink& b) { return a.link < b.link; });
    return links;
}

}  // namespace

std::vector<SerialPort> find_serial_ports() {
    const UdevPtr<udev> context(udev_new());
    if (!context) throw std::runtime_error("cannot ask udev for the serial ports");
    const UdevPtr<udev_enumerate> enumerate(udev_enumerate_new(context.get()));
    if (!enumerate) throw std::runtime_error("cannot ask udev for the serial ports");
    udev_enumerate_add_match_subsystem(enumerate.get(), "tty");
    if (const int result = udev_enumerate_scan_devices(enumerate.get()); result < 0) {
        throw std::runtime_error(std::string("cannot list the tty devices: ") +
                                 std::strerror(-result));
    }
    const std::vector<DeviceLink> by_id = links_in("/dev/serial/by-id");
    const std::vector<DeviceLink> by_path = links_in("/dev/serial/by-path");

    std::vector<SerialPort> ports;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        const UdevPtr<udev_device> tty(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        // Virtual consoles, ptmx, console and the like have no parent: not serial ports.
        if (!tty || udev_device_get_parent(tty.get()) == nullptr) continue;
        const char* node = udev_device_get_devnode(tty.get());
        if (node == nullptr) continue;
        // A port whose device file is missing (a container without it) cannot be used.
        std::error_code error;
        if (!fs::is_character_file(node, error)) continue;

        SerialPort port;
        port.device = node;
        const std::string target = real_path(port.device);
        port.by_id = first_link_to(by_id, target);
        port.by_path = first_link_to(by_path, target);
        port.driver = driver_of(tty.get());
        port.uart_type = uart_type(tty.get());
        add_usb_details(tty.get(), port);
        port.latency_timer_ms =
            read_latency_timer("/sys", text_or_empty(udev_device_get_sysname(tty.get())));
        ports.push_back(std::move(port));
    }
    return ports;
}

}  // namespace qk42rt::cli
