// The serial ports of this machine, for `qk42rt ports`: what the system says about each, and
// which of them to show and how. Finding them is find_serial_ports() (Linux: libudev and
// /dev/serial; Windows: the registry and SetupAPI); everything else here is plain functions
// over SerialPort and over what the systems write, so that it can be tested with made-up ports.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "output.h"

namespace qk42rt::cli {

struct SerialPort {
    std::string device;                  // /dev/ttyUSB0; on Windows COM3
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
    std::optional<std::string> product;  // on Windows the friendly name: "USB Serial Port (COM3)"
    // How long the adapter holds a short reply before sending it on, where its driver says
    // (ftdi_sio in sysfs).
    std::optional<int> latency_timer_ms;
};

// USB details of a port as a Windows device instance id carries them.
struct InstanceIdDetails {
    std::optional<std::string> usb_vid;  // 4 lower-case hex digits, as usb_id() gives
    std::optional<std::string> usb_pid;
    std::optional<std::string> serial_number;
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

// A latency timer above 1 ms: every short reply waits that long in the adapter.
bool latency_is_high(const SerialPort& port);

// The latency timer of the tty `name` (ttyUSB0) in ms, as sysfs under `sysfs_root` (/sys) has
// it in bus/usb-serial/devices/NAME/latency_timer; empty where there is none or it is no number.
std::optional<int> read_latency_timer(const std::filesystem::path& sysfs_root,
                                      std::string_view tty_name);

// What a device instance id (USB\VID_0403&PID_6001\A50285BI, or the FTDI driver's
// FTDIBUS\VID_0403+PID_6001+A50285BIA\0000) says of the USB device; empty fields where it
// says nothing (a serial port on the mainboard, an id Windows made up for lack of a serial).
InstanceIdDetails parse_instance_id(std::string_view id);

// The port as JSON fields: device, by_id, by_path, driver, usb_vid, usb_pid, serial_number,
// manufacturer, product, latency_timer_ms, latency_high; null where unknown.
Record port_record(const SerialPort& port);

// The port as a row of the table under ports_table_header().
std::vector<std::string> ports_table_header();
std::vector<std::string> port_row(const SerialPort& port);

// A line to print under the table for a port whose latency timer is high; empty otherwise.
std::optional<std::string> latency_note(const SerialPort& port);

}  // namespace qk42rt::cli
