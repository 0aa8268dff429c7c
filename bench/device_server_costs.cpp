// What the library adds to a round trip over TCP: straight to the simulator's listener, and
// through ser2net in front of the simulator's pseudo-terminal, raw and in RFC 2217 mode. Each
// time against a bare exchange on the same connection, the two taking turns in short blocks.
//
// The simulator and ser2net serve one client at a time, so both contenders go through one
// connection. The library opens it (open_device, then the held port of the exported
// functions), and the bare exchange works on that connection's descriptor, found among this
// process's own by its peer address. A second connection per contender would need a second
// listener, a second server process, and the comparison would no longer be on the same line.
// Sharing is sound because neither line keeps bytes between calls: an exchange ends with its
// reply read to the last byte, so each contender finds the connection as it left it.
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bare_socket.h"
#include "contest.h"
#include "lines.h"
#include "operations.h"
#include "phases.h"
#include "ser2net_process.h"
#include "simulator_process.h"
#include "stats.h"

namespace qk42rt::bench {
namespace {

// Library/bare ratios a line must stay within; none where the library does more on the wire
// than the bare exchange.
struct Limits {
    double wall = 0.0;
    double cpu = 0.0;
};

// Where the library's exchange is the bare one's, as on a raw connection: its own work, a
// fraction of a microsecond, must vanish beside the system calls and the round trip.
constexpr Limits kSameExchange{1.05, 1.10};

// On rfc2217:// the library's request carries a purge request; ser2net flushes its serial
// port's input and answers in a segment of its own ahead of the reply, which the library
// receives, acknowledges at once and decodes. No round trip is added (the purge goes out with
// the request), but ser2net handles the purge before it passes the request on, and the client
// gets two segments instead of one, more so for a short reply: the library reads no more
// bytes than the reply still lacks, so it takes the seven-byte answer in several reads. The
// ratio thus measures the purge, which the bare exchange leaves out, and moves with the load
// on the machine (wall 1.1 to 1.6, CPU 1.6 to 2.6 in runs here): it is reported, not held to a
// limit.
constexpr std::optional<Limits> kWithPurge = std::nullopt;

struct Line {
    std::string name;  // as the tables show it
    std::string device;
    std::uint16_t port = 0;
    BareSocket::Framing framing = BareSocket::Framing::raw;
    std::optional<Limits> limits;
};

void check_requests(const std::vector<Operation>& ops) {
    // The bare Telnet client sends the requests unescaped.
    for (const auto& op : ops) {
        for (const std::uint8_t byte : op.request) {
            if (byte == 0xFF) throw std::logic_error(op.name + ": a request holds 0xFF");
        }
    }
}

void measure(const Settings& settings, const Line& line, Report& report, std::vector<Row>& rows) {
    if (const std::string refused = lines::hold(line.device); !refused.empty()) {
        throw std::runtime_error("cannot open " + line.device + ": " + refused);
    }
    struct Released {
        ~Released() { lines::release(); }
    } released;
    BareSocket bare(connection_to_loopback_port(line.port), line.framing);
    const std::vector<Operation> ops = operations_calling(lines::calls());
    check_requests(ops);

    std::vector<Samples> library(ops.size()), raw(ops.size());
    for (std::size_t k = 0; k < ops.size(); ++k) {
        library[k].wall_us.reserve(static_cast<std::size_t>(settings.calls) + settings.block);
        raw[k].wall_us.reserve(static_cast<std::size_t>(settings.calls) + settings.block);
    }
    // Warm up caches, the connection and the server; not counted.
    for (const auto& op : ops) {
        Samples warm;
        library_block(op, 20, warm);
        bare_block(bare, op, 20, warm);
    }
    const int rounds = (settings.calls + settings.block - 1) / settings.block;
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < ops.size(); ++k) {
            // Each goes first every other round, so neither always follows the other.
            if ((round + static_cast<int>(k)) % 2 == 0) {
                library_block(ops[k], settings.block, library[k]);
                bare_block(bare, ops[k], settings.block, raw[k]);
            } else {
                bare_block(bare, ops[k], settings.block, raw[k]);
                library_block(ops[k], settings.block, library[k]);
            }
        }
    }

    for (std::size_t k = 0; k < ops.size(); ++k) {
        const Summary lib = summarize(library[k].wall_us);
        const Summary floor = summarize(raw[k].wall_us);
        const double wall_ratio = lib.median / floor.median;
        const double cpu_ratio = library[k].cpu_per_call() / raw[k].cpu_per_call();
        const bool clean = library[k].failures == 0 && raw[k].failures == 0;
        const std::string figure = ops[k].name + ", " + line.name + ": library/bare";
        if (!clean) {
            report.target(figure,
                          std::to_string(library[k].failures) + " library and " +
                              std::to_string(raw[k].failures) + " bare calls failed",
                          "none failed", false);
        } else if (line.limits) {
            report.target(figure + ", median wall", fixed(wall_ratio, 2),
                          "≤ " + fixed(line.limits->wall, 2), wall_ratio <= line.limits->wall);
            report.target(figure + ", CPU per call", fixed(cpu_ratio, 2),
                          "≤ " + fixed(line.limits->cpu, 2), cpu_ratio <= line.limits->cpu);
        } else {
            report.figure(figure + ", median wall", fixed(wall_ratio, 2), "none (purge)");
            report.figure(figure + ", CPU per call", fixed(cpu_ratio, 2), "none (purge)");
        }
        const auto add = [&](const char* who, const Summary& s, const Samples& samples) {
            rows.push_back({line.name, ops[k].name, who, std::to_string(s.count),
                            fixed(s.median, 1), fixed(s.p99, 1), fixed(samples.cpu_per_call(), 1),
                            fixed(samples.cpu_per_call() - raw[k].cpu_per_call(), 1),
                            std::to_string(samples.failures)});
        };
        add("library", lib, library[k]);
        add("bare", floor, raw[k]);
    }
}

}  // namespace

void device_server_costs(const Settings& settings, Report& report) {
    std::vector<Row> rows;
    {
        SimulatorProcess simulator(settings.simulator, {"--tcp", "127.0.0.1:0", "--no-pty"});
        const std::string device = "tcp://127.0.0.1:" + std::to_string(simulator.tcp_port());
        measure(settings,
                {"tcp:// simulator", device, simulator.tcp_port(), BareSocket::Framing::raw,
                 kSameExchange},
                report, rows);
    }
    if (access(settings.ser2net.c_str(), X_OK) != 0) {
        report.note("ser2net is not installed (" + settings.ser2net +
                    "), so the exchanges through it were not measured.");
    } else {
        SimulatorProcess simulator(settings.simulator, {});
        // One ser2net per mode, one after the other: each holds the pseudo-terminal while a
        // client is connected and for a moment after, and two on one device would both read
        // the simulator's replies.
        for (const auto mode : {Ser2netProcess::Mode::raw, Ser2netProcess::Mode::rfc2217}) {
            const bool telnet = mode == Ser2netProcess::Mode::rfc2217;
            const std::string name = telnet ? "ser2net rfc2217://" : "ser2net tcp://";
            try {
                Ser2netProcess server(settings.ser2net, simulator.slave_path(), mode);
                measure(settings,
                        {name, server.url(), server.port(),
                         telnet ? BareSocket::Framing::telnet : BareSocket::Framing::raw,
                         telnet ? kWithPurge : std::optional<Limits>(kSameExchange)},
                        report, rows);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "bench: %s: %s\n", name.c_str(), e.what());
                report.target(name + ": library/bare", std::string("not measured: ") + e.what(),
                              "measured", false);
            }
        }
    }
    report.section("Exchange cost over TCP, instrument answering at once",
                   "Times in microseconds per call. The library and the bare exchange share one "
                   "connection and take turns on it in blocks; CPU over bare is what the library "
                   "spends beyond the bare exchange's own system calls. tcp:// simulator: "
                   "qk42rt-sim's own TCP listener. ser2net: ser2net in front of the simulator's "
                   "pseudo-terminal, without its character delay. On rfc2217:// the bare exchange "
                   "sends the request alone on the negotiated connection and reads the reply; the "
                   "library's request carries a purge request, and the library receives "
                   "ser2net's answer to it, a segment of its own ahead of the reply, and decodes "
                   "the Telnet commands out of what arrives.",
                   {"Line", "Operation", "Client", "Calls", "Wall median", "Wall p99",
                    "CPU per call", "CPU over bare", "Failed"},
                   rows);
}

}  // namespace qk42rt::bench
