// find_serial_ports() on Windows: the ports the system lists under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (every serial driver enters its ports there while they are
// present), with what SetupAPI knows of the device behind each. Nothing here opens a port.
#include <windows.h>
// windows.h first: setupapi.h builds on its types.
#include <setupapi.h>

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "serial_ports.h"

namespace qk42rt::cli {
namespace {

// The Ports device class and the COM port interface, written out so that no GUID library is
// needed at link time.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr GUID kComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x00, 0xa0, 0xc9, 0x11, 0xb4, 0xff}};

struct KeyClose {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using Key = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyClose>;

struct DeviceListDestroy {
    void operator()(HDEVINFO list) const { SetupDiDestroyDeviceInfoList(list); }
};
using DeviceList = std::unique_ptr<std::remove_pointer_t<HDEVINFO>, DeviceListDestroy>;

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// UTF-16 text out of a buffer the system filled, up to its first NUL (registry strings need not
// end in one).
std::wstring wide_text(const std::vector<wchar_t>& buffer, std::size_t chars) {
    std::wstring text(buffer.data(), std::min(chars, buffer.size()));
    if (const std::size_t nul = text.find(L'\0'); nul != std::wstring::npos) text.resize(nul);
    return text;
}

std::optional<std::string> non_empty(const std::wstring& text) {
    std::string converted = utf8(text);
    if (converted.empty()) return std::nullopt;
    return converted;
}

// A string value of an open key; empty when missing or of another type.
std::optional<std::wstring> string_value(HKEY key, const wchar_t* name) {
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::nullopt;
    }
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::nullopt;
    }
    return wide_text(buffer, got / sizeof(wchar_t));
}

std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// The COM names under SERIALCOMM, in the order the registry gives them; none when the key is
// missing (a machine without serial ports has none).
std::vector<std::string> listed_com_names() {
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                                      KEY_QUERY_VALUE, &opened);
    if (status == ERROR_FILE_NOT_FOUND) return {};
    if (status != ERROR_SUCCESS) {
        throw std::runtime_error("cannot read the serial ports from the registry (error " +
                                 std::to_string(status) + ")");
    }
    const Key key(opened);
    DWORD values = 0;
    DWORD longest_name = 0;
    DWORD longest_data = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                         &longest_name, &longest_data, nullptr, nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot read the serial ports from the registry");
    }
    std::vector<std::string> names;
    for (DWORD i = 0; i < values; ++i) {
        std::vector<wchar_t> name(longest_name + 1, L'\0');
        std::vector<wchar_t> data(longest_data / sizeof(wchar_t) + 1, L'\0');
        DWORD name_chars = static_cast<DWORD>(name.size());
        DWORD data_bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        DWORD type = 0;
        const LONG got = RegEnumValueW(key.get(), i, name.data(), &name_chars, nullptr, &type,
                                       reinterpret_cast<BYTE*>(data.data()), &data_bytes);
        if (got == ERROR_NO_MORE_ITEMS) break;  // a port went away while we looked
        if (got != ERROR_SUCCESS || type != REG_SZ) continue;
        std::string com = utf8(wide_text(data, data_bytes / sizeof(wchar_t)));
        if (!com.empty()) names.push_back(std::move(com));
    }
    return names;
}

std::optional<std::wstring> device_property(HDEVINFO list, SP_DEVINFO_DATA& device,
                                            DWORD property) {
    DWORD type = 0;
    DWORD bytes = 0;
    SetupDiGetDeviceRegistryPropertyW(list, &device, property, &type, nullptr, 0, &bytes);
    if (bytes == 0) return std::nullopt;
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(
            list, &device, property, &type, reinterpret_cast<BYTE*>(buffer.data()),
            static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), nullptr) ||
        type != REG_SZ) {
        return std::nullopt;
    }
    return wide_text(buffer, bytes / sizeof(wchar_t));
}

std::optional<std::wstring> instance_id(HDEVINFO list, SP_DEVINFO_DATA& device) {
    DWORD chars = 0;
    SetupDiGetDeviceInstanceIdW(list, &device, nullptr, 0, &chars);
    if (chars == 0) return std::nullopt;
    std::vector<wchar_t> buffer(chars + 1, L'\0');
    if (!SetupDiGetDeviceInstanceIdW(list, &device, buffer.data(),
                                     static_cast<DWORD>(buffer.size()), nullptr)) {
        return std::nullopt;
    }
    return wide_text(buffer, buffer.size());
}

// The COM name the device's own key holds ("PortName"); LPT ports of the class have one too.
std::optional<std::string> port_name(HDEVINFO list, SP_DEVINFO_DATA& device) {
    const HKEY opened =
        SetupDiOpenDevRegKey(list, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (opened == INVALID_HANDLE_VALUE || opened == nullptr) return std::nullopt;
    const Key key(opened);
    const std::optional<std::wstring> name = string_value(key.get(), L"PortName");
    if (!name) return std::nullopt;
    return non_empty(*name);
}

// What SetupAPI says of the present devices in `list`, by upper-case COM name; the first
// device to claim a name keeps it.
void describe_devices(HDEVINFO list, std::map<std::string, SerialPort>& details) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(list, i, &device); ++i) {
        const std::optional<std::string> name = port_name(list, device);
        if (!name || details.contains(upper(*name))) continue;
        SerialPort port;
        if (const auto id = instance_id(list, device)) {
            InstanceIdDetails usb = parse_instance_id(utf8(*id));
            port.usb_vid = std::move(usb.usb_vid);
            port.usb_pid = std::move(usb.usb_pid);
            port.serial_number = std::move(usb.serial_number);
        }
        if (auto text = device_property(list, device, SPDRP_FRIENDLYNAME)) {
            port.product = non_empty(*text);
        }
        if (!port.product) {
            if (auto text = device_property(list, device, SPDRP_DEVICEDESC)) {
                port.product = non_empty(*text);
            }
        }
        if (auto text = device_property(list, device, SPDRP_MFG)) {
            port.manufacturer = non_empty(*text);
        }
        if (auto text = device_property(list, device, SPDRP_SERVICE)) {
            port.driver = non_empty(*text);
        }
        details.emplace(upper(*name), std::move(port));
    }
}

// Devices of the Ports class and devices with the COM port interface (some drivers register
// only one of the two). A list SetupAPI cannot give only means fewer details.
std::map<std::string, SerialPort> port_details() {
    std::map<std::string, SerialPort> details;
    const std::pair<const GUID*, DWORD> queries[] = {
        {&kPortsClass, DIGCF_PRESENT},
        {&kComPortInterface, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE},
    };
    for (const auto& [guid, flags] : queries) {
        const HDEVINFO opened = SetupDiGetClassDevsW(guid, nullptr, nullptr, flags);
        if (opened == INVALID_HANDLE_VALUE) continue;
        const DeviceList list(opened);
        describe_devices(list.get(), details);
    }
    return details;
}

}  // namespace

std::vector<SerialPort> find_serial_ports() {
    const std::vector<std::string> names = listed_com_names();
    if (names.empty()) return {};
    std::map<std::string, SerialPort> details = port_details();
    std::vector<SerialPort> ports;
    std::map<std::string, bool> seen;
    for (const std::string& name : names) {
        const std::string key = upper(name);
        if (seen[key]) continue;  // two drivers that claim one name: list it once
        seen[key] = true;
        SerialPort port;
        if (const auto found = details.find(key); found != details.end()) port = found->second;
        port.device = name;
        ports.push_back(std::move(port));
    }
    return ports;
}

}  // namespace qk42rt::cli
