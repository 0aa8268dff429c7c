// A COM port on Win32: the device namespace, one CreateFileA with fixed time-outs and line
// settings, and one PurgeComm / WriteFile / ReadFile per port operation.
#include <windows.h>

#include <cstdio>
#include <string>

#include "port/open_port.h"

namespace qk42rt {
namespace {

// The instrument gets 500 ms from the start of the read, however many bytes are asked for;
// writes are never cut short.
constexpr COMMTIMEOUTS kTimeouts{
    /*ReadIntervalTimeout=*/0,
    /*ReadTotalTimeoutMultiplier=*/0,
    /*ReadTotalTimeoutConstant=*/static_cast<DWORD>(kReplyTimeout.count()),
    /*WriteTotalTimeoutMultiplier=*/0,
    /*WriteTotalTimeoutConstant=*/0,
};

// 9600 8N1, no flow control of any kind, DTR and RTS held off, no character processing.
// Every field not named stays zero. Windows requires binary mode and refuses equal XON and
// XOFF characters, so those three are set to their standard values; with XON/XOFF flow
// control off they change nothing on the wire.
DCB line_settings() {
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.fBinary = TRUE;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    return dcb;
}

class Win32Serial final : public Port {
  public:
    explicit Win32Serial(HANDLE handle) : handle_(handle) {}
    ~Win32Serial() override { CloseHandle(handle_); }
    Win32Serial(const Win32Serial&) = delete;
    Win32Serial& operator=(const Win32Serial&) = delete;

    void clear_input() override { PurgeComm(handle_, PURGE_RXCLEAR); }

    void write(std::span<const std::uint8_t> bytes) override {
        DWORD written = 0;
        WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }

    // A read is one ReadFile, which the driver ends when the bytes are in or the read time-out
    // has passed. The time-out is the one applied at open (500 ms) until a line asks for
    // another; then it is applied once, before the read.
    std::size_t read(std::span<std::uint8_t> buffer, std::chrono::milliseconds limit) override {
        if (limit != applied_) {
            COMMTIMEOUTS timeouts = kTimeouts;
            timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(limit.count());
            if (SetCommTimeouts(handle_, &timeouts)) applied_ = limit;
        }
        DWORD got = 0;
        if (!ReadFile(handle_, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            return 0;
        }
        return got <= buffer.size() ? got : buffer.size();
    }

  private:
    HANDLE handle_;
    std::chrono::milliseconds applied_ = kReplyTimeout;
};

// "COM12" as a user types it names the device \\.\COM12: CreateFileA finds COM1 to COM9 by
// their short names only.
std::string device_path(const std::string& device) {
    const bool com = device.size() > 3 && (device[0] == 'C' || device[0] == 'c') &&
                     (device[1] == 'O' || device[1] == 'o') &&
                     (device[2] == 'M' || device[2] == 'm') &&
                     device.find_first_not_of("0123456789", 3) == std::string::npos;
    return com ? "\\\\.\\" + device : device;
}

}  // namespace

std::string device_for_port(int port_number) {
    char name[80];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", port_number);
    return name;
}

OpenResult open_serial_device(const std::string& device) {
    OpenResult result;
    const HANDLE handle =
        CreateFileA(device_path(device).c_str(), GENERIC_READ | GENERIC_WRITE,
                    /*share=*/0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        result.reason = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                            ? "no such device"
                        : error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION
                            ? "another program holds it"
                            : "Windows error " + std::to_string(error);
        return result;
    }
    auto port = std::make_unique<Win32Serial>(handle);  // closes the handle on every way out

    COMMTIMEOUTS timeouts = kTimeouts;
    DCB dcb = line_settings();
    if (!SetCommTimeouts(handle, &timeouts) || !SetCommState(handle, &dcb)) {
        result.status = OpenStatus::settings_refused;
        result.reason = "it opened but refused the serial line settings (is it a serial port?)";
        return result;
    }
    result.status = OpenStatus::opened;
    result.port = std::move(port);
    return result;
}

void report_open_failure() {
    // Modal and without an owner window: returns once the user has closed it.
    MessageBoxA(nullptr, "can't open port!", "QK42RT", MB_OK | MB_ICONWARNING);
}

}  // namespace qk42rt
