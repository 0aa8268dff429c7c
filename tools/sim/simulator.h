// An instrument on a pseudo-terminal and/or a TCP listener: the other end of the line, for
// tests, demos and hosts without hardware. Serves on its own thread; hosts open slave_path()
// or connect to tcp_address().
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qk42rt::sim {

// What a fault does to the reply of a request it matches.
enum class FaultKind {
    no_reply,        // say nothing
    late_reply,      // answer after delay_ms
    split_reply,     // send the first half at once, the rest after delay_ms
    short_reply,     // leave out the last byte
    surplus_bytes,   // append `extra` bytes of 0x55 after the reply
    wrong_ack,       // flip bit 6 of the first reply byte (a wrong acknowledge byte)
    garbage_before,  // send `extra` bytes of noise (bit 7 clear) before the reply
    hang_up,         // hang up the line instead of answering (the simulator reopens it)
};

struct FaultRule {
    FaultKind kind = FaultKind::no_reply;
    std::optional<std::uint8_t> code;  // command code 0x0..0xF it applies to; empty: all
    int count = -1;                    // apply to the next `count` matching requests; -1: no limit
    double probability = 1.0;          // chance for each matching request
    std::uint32_t seed = 1;            // seeds the probability draw
    int delay_ms = 600;                // for late_reply and split_reply
    int extra = 1;                     // bytes for surplus_bytes and garbage_before
};

// A reply chosen outside the instrument model, for example from a replayed recording.
struct Answer {
    std::vector<std::uint8_t> bytes;  // empty: say nothing
    int delay_ms = 0;                 // wait before replying, after any turnaround
    std::string note;                 // for the transcript: "not in the recording: no reply"
};

// One framed request and what the simulator did with it, in seconds since it started. On the
// paced line the request is taken to arrive over its own byte times after it was read, so the
// reply's first byte goes out one byte time after that and its last when the line would have
// delivered it.
struct ExchangeTiming {
    double request_s = 0.0;      // the request read whole from the line
    double reply_start_s = 0.0;  // its first reply byte written (request_s when none)
    double reply_end_s = 0.0;    // its last reply byte written (request_s when none)
    std::size_t request_bytes = 0;
    std::size_t reply_bytes = 0;  // every byte written in reply, faults' included; 0: none
};

struct Options {
    std::vector<int> addresses{1};  // instrument addresses 1..8 on this line (multi-drop)
    bool pty = true;                // serve a pseudo-terminal
    std::string tcp_listen;         // HOST:PORT to serve on TCP as well (port 0: any free one)
    std::string link_path;          // when set, a symbolic link to the slave device is made here
    bool pace_9600 = false;         // send reply bytes about every 1.04 ms, as the line would
    int turnaround_ms = 0;          // delay between a request and its reply
    double time_constant_s = 2.0;   // first-order response of the flow toward the setpoint
    double noise = 0.0;             // standard deviation of flow noise; 0: deterministic
    std::uint32_t noise_seed = 1;
    // When set, answers every request (any address) in place of the instrument model; faults
    // still apply to what it answers. Called on the simulator's thread.
    std::function<Answer(std::span<const std::uint8_t> request)> responder;
    std::function<void(const std::string&)> transcript;  // one line per request / reply / event
    // Called for every request framed, once its reply (if any) is written.
    std::function<void(const ExchangeTiming&)> on_exchange;
    // Called on the line's changes: "line opened", "line hung up", and after a hang-up fault
    // "line hung up by the simulator; slave: <new path>"; on TCP "tcp client connected from
    // HOST:PORT", "tcp client left", "tcp connection closed by the simulator". Both callbacks
    // run on the simulator's thread.
    std::function<void(const std::string&)> on_event;
};

// One instrument's state as the protocol sees it. Floats as the instrument holds them.
struct ChannelState {
    int unit_code = 0;  // 0..3 (unit 1..4)
    float setpoint = 0.0f;
    float maxflow = 100.0f;
    std::uint8_t maxflow_code = 0;
    float flow = 0.0f;
    std::uint8_t status = 0;  // low bits sent in the status byte; bit 3 makes flow read -1.0
    std::uint32_t intflow = 0;
};

struct InstrumentState {
    std::uint8_t on_off = 0;
    ChannelState channels[8];
    std::uint32_t inttime = 0;
    bool integrating = false;
    std::uint8_t ratio_channel = 0;  // channel - 1
    std::uint8_t ratio_value = 0;
    std::uint8_t ratio_channel2 = 0;  // channel - 1
    std::uint8_t ratio_channel3 = 0;  // channel - 1
    std::uint8_t ratio_mode = 0;
    char version[3] = {'1', '.', '2'};
    char kind = 'C';
    std::uint8_t info1 = 8;
    std::uint8_t info2 = 1;
    bool display_flag1 = false;
    bool display_flag2 = false;
    bool key_locked = false;
};

struct Counters {
    std::uint64_t requests = 0;  // complete requests framed, any address
    std::uint64_t replies = 0;   // replies sent
    std::uint64_t dropped = 0;   // bytes that formed no request
    std::uint64_t hangups = 0;   // times the host side closed the line (or a TCP client left)
    std::uint64_t opens = 0;     // times the host side opened the line (or a TCP client came)
    std::uint64_t faults = 0;    // requests whose reply a fault changed
};

class Simulator {
  public:
    explicit Simulator(Options options = {});
    ~Simulator();  // stops the thread, closes the master, removes the link
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // The slave device hosts open. A hang-up fault moves the line to a new device: the path
    // (and the link) then follow it; references returned earlier stay valid.
    const std::string& slave_path() const;  // empty without a pseudo-terminal

    // Where the TCP listener is, with the port chosen: "127.0.0.1:40123"; empty without one.
    const std::string& tcp_address() const;

    // Copies of, and changes to, an instrument's state; safe while the thread runs.
    InstrumentState state(int address) const;
    void update(int address, const std::function<void(InstrumentState&)>& change);

    void add_fault(const FaultRule& rule);
    void clear_faults();

    // Bytes written to the line outside any exchange (noise between exchanges).
    void send_noise(const std::vector<std::uint8_t>& bytes);

    Counters counters() const;

    // Waits until the host side has closed the line `count` times in all; false on time-out.
    bool wait_for_hangups(std::uint64_t count, int timeout_ms) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qk42rt::sim
