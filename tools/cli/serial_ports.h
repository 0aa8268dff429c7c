// The serial ports of this machine, for `qk42rt ports`: what the system says about each, and
// which of them to show and how. Finding them (libudev, /dev/serial) is find_serial_ports();
// everything else here is plain functions over SerialPort, so that it can be tested with
// made-up ports.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "output.h"

namespace qk42rt::cli {

struct SerialPort {
    std::string device;                  // /dev/ttyUSB0
    std::optional<std::string> by_id;    // a link in /dev/serial/by-id to the device
    std::optional<std::string> by_path;  // a link in /dev/serial/by-path to the device
    std::optional<std::string> driver;   // of the device behind the port: ftdi_sio, serial
    // The UART type the serial core reports in sysfs ("type"); 0 (PORT_UNKNOWN) when no UART
    // answered at the port's address. Empty for ports outside the serial core (USB adapters).
    std::optional<int> uart_type;
    // USB adapters only, as the USB device reports them.
    std::optional<std::string> usb_vid;  // 4 hex digits: "0403"
    std::optional<std::string> usb_pid;
    std::optional<std::string> serial_number;
    std::optional<std::string> manufacturer;
    std::optional<std::string> product;
};

// A symbolic link in /dev/serial/by-id or by-path and the device it resolves to.
struct DeviceLink {
    std::string link;
    std::string target;  // the link's real path
};

// The serial ports on this machine, every one the kernel has, in no particular order.
// Throws std::runtime_error when the system cannot be asked (no sysfs, say).
std::vector<SerialPort> find_serial_ports();

// A legacy port the kernel keeps with no UART behind it (most of ttyS0..ttyS31 on a PC
// without them): opening it works, but nothing is ever sent or received.
bool is_unused_legacy_port(const SerialPort& port);

// The ports to show, in the order of their names (ttyS2 before ttyS10); unused legacy ports
// only with `all`.
std::vector<SerialPort> ports_to_show(std::vector<SerialPort> ports, bool all);

// The first link (in the order given) whose target is `device_real_path`.
std::optional<std::string> first_link_to(const std::vector<DeviceLink>& links,
                                         std::string_view device_real_path);

// A USB vendor or product id as sysfs prints it ("0403\n"), as 4 lower-case hex digits;
// empty when the text is not one.
std::optional<std::string> usb_id(std::string_view text);

// The port as JSON fields: device, by_id, by_path, driver, usb_vid, usb_pid, serial_number,
// manufacturer, product; null where unknown.
Record port_record(const SerialPort& port);

// The port as a row of the table under ports_table_header().
std::vector<std::string> ports_table_header();
std::vector<std::string> port_row(const SerialPort& port);

}  // namespace qk42rt::cli
