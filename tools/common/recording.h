// Recordings of exchanges as JSON lines, one object per exchange:
//   {"time":"2024-05-01T12:00:01.234Z","request":"83 01","reply":"00 00 00 20
//   41","latency_ms":0.41}
// time: when the request's last byte was seen (UTC); request and reply: the bytes in
// hexadecimal, the reply as it arrived (short, or "" when none came); latency_ms: from the
// request's last byte to the reply's last byte, null when no complete reply came. Written by
// `qk42rt sniff --record` and `qk42rt --record`, played by `qk42rt-sim --replay`.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/exchange.h"
#include "utc_time.h"

namespace qk42rt {

using Bytes = std::vector<std::uint8_t>;

struct Recorded {
    std::string time;
    Bytes request;
    Bytes reply;
    std::optional<double> latency_ms;
};

std::string record_line(const Recorded& recorded);

// Empty, with `error` saying why, when the line is not a recorded exchange.
std::optional<Recorded> parse_record_line(std::string_view line, std::string& error);

// Hexadecimal bytes as typed: "8E 00 04", "8E0004", "0x8E,0x00"; two digits a byte. Empty,
// with `error` naming the offending word, when the text is not hex.
std::optional<Bytes> parse_hex(std::string_view text, std::string& error);

// Appends recorded exchanges to a file, a whole line at a time, from any thread.
class Recorder {
  public:
    // Throws std::runtime_error naming the file and the reason.
    explicit Recorder(const std::string& path);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void write(const Recorded& recorded);

  private:
    std::mutex mutex_;
    std::FILE* file_;
};

// A trace hook for a Line that records each exchange it runs (the client's --record).
protocol::TraceHook recording_trace(Recorder& recorder);

}  // namespace qk42rt
