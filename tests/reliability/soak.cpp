// Soak: many exchanges against the simulated instrument with random faults on the line,
// counting calls, successes, failures by cause, wrong values delivered (must be 0) and calls
// that overran the time-out. Shards run as separate processes, each with its own line.
//
//   qk42rt-soak [--exchanges N] [--shards K] [--seed S] [--fault-percent P]
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "commands/commands.h"
#include "port/held_port.h"
#include "qk42rt.h"
#include "simulator.h"
#include "support/port_map.h"

namespace {

using namespace qk42rt;
using namespace std::chrono;

struct Tally {
    long calls = 0, ok = 0, wrong = 0, overran = 0;
    long by_cause[5] = {};  // indexed by Failure
    long faults_injected = 0, noise_bursts = 0;
    double longest_ms = 0;
};

struct Settings {
    long exchanges = 100'000;
    int shards = 8;
    unsigned seed = 42;
    double fault_percent = 3.0;
};

float setpoint_of(int ch) {
    return 10.0f * static_cast<float>(ch) + 0.5f;
}
float maxflow_of(int ch) {
    return 100.0f + static_cast<float>(ch);
}

void prepare(sim::InstrumentState& s) {
    s.on_off = 0xFF;  // every channel on: with an immediate response the flow is the setpoint
    for (int ch = 1; ch <= 8; ++ch) {
        auto& c = s.channels[ch - 1];
        c.setpoint = setpoint_of(ch);
        c.flow = setpoint_of(ch);
        c.maxflow = maxflow_of(ch);
        c.maxflow_code = 2;
        c.unit_code = ch % 4;
        c.status = 0;
    }
    s.ratio_channel = 1, s.ratio_value = 0xA5, s.ratio_channel2 = 2, s.ratio_channel3 = 3;
}

// Faults at `percent` in all, most of them the kind that costs no time-out; a wrong
// acknowledge byte only where the reply is an acknowledge byte (elsewhere a changed byte is
// a changed value, which no protocol without a checksum can see).
void add_faults(sim::Simulator& sim, double percent, unsigned seed) {
    const double p = percent / 100.0;
    auto rule = [&](sim::FaultKind kind, std::optional<std::uint8_t> code, double share) {
        sim::FaultRule r;
        r.kind = kind;
        r.code = code;
        r.probability = p * share;
        r.seed = seed++;
        r.delay_ms = 700;
        r.extra = 2;
        sim.add_fault(r);
    };
    rule(sim::FaultKind::no_reply, std::nullopt, 0.05);
    rule(sim::FaultKind::late_reply, std::nullopt, 0.03);
    rule(sim::FaultKind::short_reply, std::nullopt, 0.02);
    rule(sim::FaultKind::surplus_bytes, std::nullopt, 0.45);
    for (std::uint8_t code : {0x1, 0x8, 0xA, 0xD, 0xE, 0xF}) {
        rule(sim::FaultKind::wrong_ack, code, 0.45 * 16 / 6);
    }
}

// One call of a mix over every operation; true when the delivered values are the truth.
Outcome<bool> one_call(protocol::Line& line, int n) {
    using namespace commands;
    const int ch = 1 + n % 8;
    auto same = [](bool right) { return Outcome<bool>(right); };
    auto done = [](const Outcome<Done>& o) {
        return o.ok() ? Outcome<bool>(true) : Outcome<bool>(o.error());
    };
    switch (n % 17) {
        case 0: {
            auto o = read_flow(line, 1, ch);
            if (!o.ok()) return o.error();
            return same(o.value().value == setpoint_of(ch) && o.value().status == 0);
        }
        case 1: {
            auto o = read_setpoint(line, 1, ch);
            if (!o.ok()) return o.error();
            return same(o.value().value == setpoint_of(ch));
        }
        case 2: {
            auto o = read_maxflow(line, 1, ch);
            if (!o.ok()) return o.error();
            return same(o.value().value == maxflow_of(ch));
        }
        case 3: {
            auto o = read_unit(line, 1, ch);
            if (!o.ok()) return o.error();
            return same(o.value() == ch % 4 + 1);
        }
        case 4: {
            auto o = read_intflow(line, 1, ch);
            if (!o.ok()) return o.error();
            return same(o.value() == FourBytes{});
        }
        case 5: {
            auto o = read_inttime(line, 1);
            if (!o.ok()) return o.error();
            return same(o.value() == FourBytes{});
        }
        case 6: {
            auto o = read_ratio_total(line, 1);
            if (!o.ok()) return o.error();
            const auto& r = o.value();
            return same(r.channel == 2 && r.value == 0xA5 && r.channel2 == 3 && r.channel3 == 4);
        }
        case 7: {
            auto o = read_on_off(line, 1);
            if (!o.ok()) return o.error();
            return same(o.value() == 0xFF);
        }
        case 8: {
            auto o = read_version(line, 1);
            if (!o.ok()) return o.error();
            const auto& v = o.value();
            return same(v.number == 1.2f && v.kind == 1 && v.info1 == 8 && v.info2 == 1);
        }
        case 9:
            return done(set_setpoint(line, 1, ch, setpoint_of(ch)));
        case 10:
            return done(set_maxflow(line, 1, ch, maxflow_of(ch), 2));
        case 11:
            return done(set_unit(line, 1, ch, ch % 4 + 1));
        case 12:
            return done(set_on_off(line, 1, 0xFF));
        case 13:
            return done(set_ratio_total(line, 1, {2, 0xA5, 3, 4}));
        case 14:
            return done(int_control(line, 1, 0x02));
        case 15:
            return done(control_ratio_total(line, 1, 0));
        default:
            return done(n % 2 ? set_display(line, 1, 0, 0) : set_key_lock(line, 1, 0));
    }
}

Tally run_shard(long exchanges, double percent, unsigned seed) {
    sim::Options options;
    options.time_constant_s = 0.0;
    sim::Simulator sim(options);
    sim.update(1, prepare);
    add_faults(sim, percent, seed);
    testing::map_port(testing::kTestPort, sim.slave_path());
    Tally tally;
    if (QK42RT_InitPort(testing::kTestPort) != 1) return tally;
    std::mt19937 noise_draw(seed ^ 0x5EEDu);
    for (long n = 0; n < exchanges; ++n) {
        if (noise_draw() % 1000 < static_cast<unsigned>(percent * 10 * 0.05)) {
            // Noise while the line is idle: the next exchange must clear it away.
            sim.send_noise({0x55, static_cast<std::uint8_t>(noise_draw() & 0x7F), 0x0E});
            std::this_thread::sleep_for(milliseconds(5));
            ++tally.noise_bursts;
        }
        protocol::Line line(held_port::get());
        const auto start = steady_clock::now();
        const Outcome<bool> outcome = one_call(line, static_cast<int>(n));
        const double ms = duration<double, std::milli>(steady_clock::now() - start).count();
        ++tally.calls;
        tally.longest_ms = std::max(tally.longest_ms, ms);
        if (ms > 1000.0) ++tally.overran;  // twice the time-out: a hang, not load
        if (outcome.ok()) {
            ++tally.ok;
            if (!outcome.value()) ++tally.wrong;
        } else {
            ++tally.by_cause[static_cast<int>(outcome.error().why)];
            // A careful host lets a late reply land before its next call: on a protocol
            // without sequence numbers a reply later than the time-out is otherwise taken
            // for the next request's.
            std::this_thread::sleep_for(milliseconds(300));
        }
    }
    tally.faults_injected = static_cast<long>(sim.counters().faults);
    QK42RT_ClosePort();
    return tally;
}

Settings parse(int argc, char** argv) {
    Settings s;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--exchanges")
            s.exchanges = std::atol(argv[i + 1]);
        else if (key == "--shards")
            s.shards = std::atoi(argv[i + 1]);
        else if (key == "--seed")
            s.seed = static_cast<unsigned>(std::atol(argv[i + 1]));
        else if (key == "--fault-percent")
            s.fault_percent = std::atof(argv[i + 1]);
        else {
            std::fprintf(
                stderr,
                "usage: qk42rt-soak [--exchanges N] [--shards K] [--seed S] [--fault-percent P]\n");
            std::exit(2);
        }
    }
    if (s.shards < 1) s.shards = 1;
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const Settings settings = parse(argc, argv);
    const auto start = steady_clock::now();
    std::vector<std::pair<pid_t, int>> children;
    for (int k = 0; k < settings.shards; ++k) {
        int pipe_fds[2];
        if (pipe(pipe_fds) != 0) return 1;
        const pid_t pid = fork();
        if (pid == 0) {
            close(pipe_fds[0]);
            const long share = settings.exchanges / settings.shards +
                               (k < settings.exchanges % settings.shards ? 1 : 0);
            const Tally t = run_shard(share, settings.fault_percent, settings.seed + 1000u * k);
            const bool sent = write(pipe_fds[1], &t, sizeof t) == static_cast<ssize_t>(sizeof t);
            _exit(sent ? 0 : 1);
        }
        close(pipe_fds[1]);
        children.emplace_back(pid, pipe_fds[0]);
    }
    Tally total;
    bool complete = true;
    for (auto [pid, fd] : children) {
        Tally t;
        complete &= read(fd, &t, sizeof t) == static_cast<ssize_t>(sizeof t);
        close(fd);
        int status = 0;
        waitpid(pid, &status, 0);
        complete &= WIFEXITED(status) && WEXITSTATUS(status) == 0;
        total.calls += t.calls, total.ok += t.ok, total.wrong += t.wrong,
            total.overran += t.overran;
        for (int c = 0; c < 5; ++c) total.by_cause[c] += t.by_cause[c];
        total.faults_injected += t.faults_injected, total.noise_bursts += t.noise_bursts;
        total.longest_ms = std::max(total.longest_ms, t.longest_ms);
    }
    const double seconds = duration<double>(steady_clock::now() - start).count();
    std::printf("| figure | value |\n|---|---|\n");
    std::printf("| exchanges (calls) | %ld |\n| shards (processes, one line each) | %d |\n",
                total.calls, settings.shards);
    std::printf("| seed | %u |\n| faults asked for | %.1f %% of requests |\n", settings.seed,
                settings.fault_percent);
    std::printf(
        "| faults the simulator injected | %ld |\n| noise bursts between exchanges | %ld |\n",
        total.faults_injected, total.noise_bursts);
    std::printf("| successes | %ld |\n", total.ok);
    std::printf("| failures: no reply | %ld |\n| failures: short reply | %ld |\n",
                total.by_cause[1], total.by_cause[2]);
    std::printf("| failures: wrong acknowledge | %ld |\n| failures: other | %ld |\n",
                total.by_cause[3], total.by_cause[0] + total.by_cause[4]);
    std::printf("| wrong values delivered | %ld |\n", total.wrong);
    std::printf("| calls over 1000 ms (hung) | %ld |\n| longest call | %.1f ms |\n", total.overran,
                total.longest_ms);
    std::printf("| wall time | %.1f s |\n", seconds);
    const bool pass =
        complete && total.calls == settings.exchanges && total.wrong == 0 && total.overran == 0;
    std::printf("soak: %s\n", pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
