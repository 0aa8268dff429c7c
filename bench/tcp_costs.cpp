// libqk42 over TCP, straight to the simulator's listener and through ser2net raw and in RFC 2217
// mode, against a bare exchange on the same connection: the simulator and ser2net serve one
// client at a time, so the bare exchange works on libqk42's descriptor, found by its peer
// address. Neither keeps bytes between calls, so each finds the connection as the other left it.
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <stdexcept>

#include "bench.h"
#include "support/ser2net.h"
#include "support/sim_process.h"
#include "wire.h"

namespace qk42rt::bench {
namespace {

void measure(const Settings& settings, const std::string& name, const std::string& device,
             std::uint16_t port, bool telnet, Report& report, std::vector<Row>& rows) {
    const Qk42Line line = open_line(device);
    BareLine bare(connection_to_loopback_port(port), telnet);
    // Where libqk42's exchange is the bare one's, its own work must vanish beside the system
    // calls and the round trip. On rfc2217:// each of its requests carries a purge request,
    // which the bare exchange leaves out: no target there.
    const auto limits = telnet ? std::nullopt : std::optional(Limits{1.05, 1.10});
    for (const Operation& op : operations()) {
        const auto s = take_turns({turn_of([&] { return op.host(line.get()); }),
                                   turn_of([&] { return bare.exchange(op); })},
                                  settings.calls);
        library_targets(report, op.host_name + ", " + name, s[0], s[1], limits, "none (purge)");
        rows.push_back(cost_row({name, op.host_name, "library"}, s[0], s[1]));
        rows.push_back(cost_row({name, op.host_name, "bare"}, s[1], s[1]));
    }
}

}  // namespace

void device_server_costs(const Settings& settings, Report& report) {
    std::vector<Row> rows;
    {
        testing::SimProcess simulator(settings.simulator, {"--tcp", "127.0.0.1:0", "--no-pty"});
        const std::uint16_t port = simulator.tcp_port();
        measure(settings, "tcp:// simulator", "tcp://127.0.0.1:" + std::to_string(port), port,
                false, report, rows);
    }
    testing::SimProcess simulator(settings.simulator, {});
    // One ser2net after the other: each holds the pseudo-terminal while a client is connected
    // and for a moment after, and two would both read the simulator's replies.
    using Mode = testing::Ser2net::Mode;
    for (const Mode mode : {Mode::raw, Mode::rfc2217}) {
        const bool telnet = mode == Mode::rfc2217;
        const std::string name = telnet ? "ser2net rfc2217://" : "ser2net tcp://";
        if (access(settings.ser2net.c_str(), X_OK) != 0) {
            report.figure(name + ": library/bare", "not measured",
                          "none: no ser2net at " + settings.ser2net);
            continue;
        }
        try {
            // Without its character delay, which would dwarf the clients' own costs.
            const testing::Ser2net server(
                simulator.device(), mode, "9600n81",
                testing::Ser2netTuning{.program = settings.ser2net, .char_delay = false});
            measure(settings, name, server.url(), server.port(), telnet, report, rows);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bench: %s: %s\n", name.c_str(), e.what());
            report.target(name + ": library/bare", std::string("not measured: ") + e.what(),
                          "measured", false);
        }
    }
    report.section("Exchange cost over TCP, instrument answering at once",
                   "Times in microseconds per call; libqk42 and the bare exchange take turns on "
                   "one connection. tcp:// simulator: qk42rt-sim's own listener; ser2net: in "
                   "front of its pseudo-terminal, without a character delay. On rfc2217:// "
                   "libqk42's request carries a purge request, which the bare exchange leaves out.",
                   {"Line", "Operation", "Client", "Calls", "Wall median", "Wall p99",
                    "CPU per call", "CPU over bare", "Failed"},
                   rows);
}

}  // namespace qk42rt::bench
