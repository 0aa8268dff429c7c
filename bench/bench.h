// The benchmark's settings and its parts, each against simulators of its own; each adds its
// targets and detail tables to the report.
#pragma once

#include <string>

#include "report.h"

namespace qk42rt::bench {

struct Settings {
    std::string simulator = QK42RT_BENCH_SIM;
    std::string client = QK42RT_BENCH_CLIENT;   // qk42rt: its status, monitor, sniff and serve
    std::string python = "/usr/bin/python3";    // with pyserial
    std::string ser2net = "/usr/sbin/ser2net";  // its lines are left out when it is missing
    int calls = 3000;                           // per operation and contender
    int timeouts = 20;                          // calls without a reply
    int paced_calls = 200;        // per operation on the paced line, and direct calls there
    int statuses = 5;             // status walks of 8 channels
    double monitor_seconds = 60;  // the monitor loops' length
    int serve_rounds = 10;        // server latency: rounds of a direct and an HTTP block
    int serve_calls = 200;        // server latency: calls per block
    // The 16 HTTP clients' window: long enough in a full run that the server publishes more
    // readings than its event history keeps (4096), so that the subscribers after them meet
    // the history of a server that has run for some minutes.
    double load_seconds = 35;
    int poll_interval_ms = 1000;  // the server's, while the subscribers listen
    double gateway_seconds = 10;  // the 8 x 8 gateway's window
    double plant_seconds = 60;    // the plant's window (--only plant)
};

void exchange_costs(const Settings& settings, Report& report);
void host_interface_costs(const Settings& settings, Report& report);
void device_server_costs(const Settings& settings, Report& report);
void no_reply_waits(const Settings& settings, Report& report);
void paced_line(const Settings& settings, Report& report);
void bulk_reading(const Settings& settings, Report& report);
void sniff_costs(const Settings& settings, Report& report);
void server_costs(const Settings& settings, Report& report);
void gateway_costs(const Settings& settings, Report& report);
void plant(const Settings& settings, Report& report);

}  // namespace qk42rt::bench
