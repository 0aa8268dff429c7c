// The parts of the benchmark, each against its own simulator process.
#pragma once

#include <string>

#include "report.h"

namespace qk42rt::bench {

struct Settings {
    std::string simulator;        // qk42rt-sim
    std::string python;           // a Python 3 with pyserial
    std::string python_client;    // pyserial_client.py
    std::string qk42_client;      // qk42_client.py, the Python package's contender
    std::string qk42_package;     // the directory holding the Python package qk42
    std::string qk42_library;     // the libqk42 it loads (QK42_LIBRARY)
    std::string client;           // the qk42rt command-line client; empty: not run
    std::string ser2net;          // the ser2net program; not measured when missing
    int calls = 3000;             // per operation, for each of library, bare and pyserial
    int block = 10;               // calls in a row before the next contender's turn
    int timeouts = 20;            // no-reply calls
    int paced_calls = 200;        // per operation, on the line paced at 9600 baud
    int statuses = 5;             // status walks of 8 channels
    double monitor_seconds = 60;  // the monitor loop's length
};

// Library, bare exchange and pyserial, interleaved, against an instrument that answers at once.
void exchange_costs(const Settings& settings, Report& report);

// libqk42's qk42_read_flow against a bare exchange, and the Python package qk42's inst.flow
// against pyserial and the C call, interleaved on one pseudo-terminal.
void host_interface_costs(const Settings& settings, Report& report);

// The library over TCP against a bare exchange on the same connection: to the simulator's own
// listener, and through ser2net raw and in RFC 2217 mode (when ser2net is installed).
void device_server_costs(const Settings& settings, Report& report);

// Calls that get no reply: how long they wait, and the CPU spent waiting.
void no_reply_waits(const Settings& settings, Report& report);

// On a line paced at 9600 baud: each operation against the line's own time.
void paced_line(const Settings& settings, Report& report);

// Bulk reading on the paced line: a status walk of eight channels and a monitor loop at the
// shortest interval, through the exported functions and through the qk42rt client.
void bulk_reading(const Settings& settings, Report& report);

// qk42rt sniff relaying the simulator's line, against the same exchange straight to it, on a
// pseudo-terminal and on the paced line (needs the client).
void sniff_costs(const Settings& settings, Report& report);

}  // namespace qk42rt::bench
