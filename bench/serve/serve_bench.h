// qk42rt-serve-bench: `qk42rt serve` against libqk42 called directly on the same simulated
// line. Each measurement adds its targets and a detail table to the report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report.h"
#include "simulator.h"

namespace qk42rt::bench {

struct ServeSettings {
    std::string client;     // the qk42rt client, whose `serve` is measured
    int rounds = 10;        // latency: rounds of a direct block and an HTTP block
    int calls = 200;        // latency: calls per block
    int paced_calls = 150;  // load: direct calls on the paced line, before and after
    int clients = 16;       // load: concurrent HTTP clients
    // load: the window counted. Long enough in a full run that the server publishes more
    // readings than its event history keeps (4096), so that the subscribers then meet the
    // history as it is on a server that has run for some minutes.
    double load_seconds = 35.0;
    int subscribers = 100;        // events: event-stream subscribers
    int poll_interval_ms = 1000;  // events: the server's poll interval
    int poll_cycles = 10;         // events: cycles per window (every tenth reads the settings)
};

// What every measurement counts besides its own figures: HTTP answers that failed or held
// another channel's value, and servers that did not stop cleanly.
struct Faults {
    long wrong_answers = 0;
    long unclean_stops = 0;
};

// 1: GET .../flow over HTTP keep-alive against qk42_read_flow, in alternating blocks on one
// pseudo-terminal with the instrument answering at once.
void flow_latency(const ServeSettings& settings, Report& report, Faults& faults);

// 2 to 4 on one server on a line paced at 9600 baud: 16 clients keep the line busy, then
// 100 event-stream subscribers at the poll interval, then the server's memory.
void load_events_memory(const ServeSettings& settings, Report& report, Faults& faults);

// Shared by both.

// A simulator whose channel c reads flow 10 x c at once: a value from another channel's
// request shows.
sim::Options instant_flows(bool paced);
void set_flows(sim::Simulator& sim);
float expected_flow(int channel);

// `calls` timed qk42_read_flow calls (channels 1 to 8 in turn, after a few untimed ones) on
// the simulator's pseudo-terminal, opened for them and closed after: their wall times in
// microseconds. A failed or wrong reading counts in `faults`.
std::vector<double> direct_calls(sim::Simulator& sim, int calls, Faults& faults);

// Waits until the simulator has seen no request for `quiet_ms` (at most `limit_ms`).
void wait_quiet(const sim::Simulator& sim, int quiet_ms, int limit_ms);

}  // namespace qk42rt::bench
