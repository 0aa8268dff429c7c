// The contenders on the line and what they send: the timed operations, with their bytes and
// reply lengths from the core's typed requests; the legacy library's port and libqk42's handle;
// the bare exchange, the same bytes on the system calls alone, which every client is measured
// against; and the Python scripts of python_clients.py, processes that time their own calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "measure.h"
#include "qk42.h"
#include "support/child_process.h"

namespace qk42rt::bench {

// One operation at instrument address 1, channel 1 (setpoint 1.0).
struct Operation {
    std::string name;                    // the exported function
    std::string host_name;               // libqk42's
    std::vector<std::uint8_t> request;   // the bytes both send
    std::size_t reply_length = 0;        // the reply both wait for
    bool (*legacy)() = nullptr;          // the exported function; true when answered
    bool (*host)(qk42_line*) = nullptr;  // libqk42's

    std::string for_script() const;  // "REQUEST_HEX REPLY_LENGTH" for python_clients.py
};

// QK42RT_ReadFlow, QK42RT_SetSetpoint and QK42RT_ReadVersion.
const std::vector<Operation>& operations();

// The time `bytes` take on a 9600-baud line, at ten bits each.
inline double line_us(std::size_t bytes) {
    return static_cast<double>(bytes) * 1e7 / 9600.0;
}

// A libqk42 handle on `device`; std::runtime_error with libqk42's reason when it cannot open.
using Qk42Line = std::unique_ptr<qk42_line, void (*)(qk42_line*)>;
Qk42Line open_line(const std::string& device);

// The legacy library's one port, opened on `device` by a port number the test support points
// there (so that nothing opens the machine's own serial devices), closed at the end.
struct LegacyPort {
    explicit LegacyPort(const std::string& device);  // std::runtime_error when it cannot
    ~LegacyPort();
    LegacyPort(const LegacyPort&) = delete;
    LegacyPort& operator=(const LegacyPort&) = delete;
};

class BareLine {
  public:
    // The tty `device`, raw at 9600 8N1, non-blocking: tcflush, write, poll, read.
    explicit BareLine(const std::string& device);
    // The connected socket `fd`, not owned: drain with a non-blocking recv, send, poll, recv.
    // On a negotiated Telnet connection a 0xFF data byte comes doubled; no timed request holds
    // one, so none is escaped.
    BareLine(int fd, bool telnet);
    ~BareLine();
    BareLine(const BareLine&) = delete;
    BareLine& operator=(const BareLine&) = delete;

    bool exchange(const Operation& op);  // true when the whole reply came within 500 ms

  private:
    int fd_ = -1;
    bool socket_ = false;
    bool telnet_ = false;
};

// This process's one TCP connection to 127.0.0.1:`port`, found among its descriptors;
// std::runtime_error when there is none or more than one.
int connection_to_loopback_port(std::uint16_t port);

// python_clients.py KIND DEVICE, with `env` (NAME=VALUE) in its environment, once it says it
// has the line; none when it does not (the reason on stderr).
using Script = std::unique_ptr<testing::ChildProcess>;
Script start_script(const std::string& python, const std::string& kind, const std::string& device,
                    const std::vector<std::string>& env = {});

// The script's turns ("run COUNT WORDS"; see python_clients.py); without a script, none.
Turn script_turns(const Script& script, const std::string& words);

}  // namespace qk42rt::bench
