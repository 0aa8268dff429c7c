// What a listener on the line makes of the bytes going by: the host's bytes cut into requests
// (the simulator's framer, taking bit-7 data where the library sends it), each followed by the
// reply its command calls for, within the host's reply time-out; and whatever belongs to no
// exchange. Knows no OS: fed with bytes and the times they were seen. Cheap per byte: the
// decoding is judge()'s.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decode.h"
#include "port/port.h"
#include "protocol/request_framer.h"

namespace qk42rt::wire {

using Clock = std::chrono::steady_clock;

// Kinds of trouble, as counted in the summary.
enum class Trouble {
    no_reply,      // nothing came within the time-out
    short_reply,   // fewer bytes than the reply has
    wrong_ack,     // the acknowledge byte is not the request's header without bit 7
    unknown_kind,  // the version reply's kind letter is neither M nor C
    bad_request,   // bytes framed as a request that the library never sends
    stray_bytes,   // bytes that belong to no exchange: noise, surplus, unfinished requests
    late_reply,    // a reply that came after the time-out
};
inline constexpr std::size_t kTroubleKinds = 7;

std::string_view trouble_name(Trouble trouble);  // "no reply"
std::string_view trouble_key(Trouble trouble);   // "no_reply", for JSON

struct Flag {
    Trouble kind;
    std::string text;
};

// One exchange, or a run of bytes that belongs to none.
struct Seen {
    bool stray = false;
    bool from_host = false;                      // stray bytes: which side sent them
    std::chrono::system_clock::time_point time;  // the request's last byte, or the first stray byte
    Bytes request;
    Bytes bytes;    // stray bytes
    Bytes reply;    // what the host takes for the reply: at most the reply's length
    Bytes surplus;  // bytes from the device after those, within the time-out
    std::optional<double> latency_ms;  // request's last byte to reply's last byte seen
    std::size_t reply_length = 0;      // the command's
    std::optional<Decoded> decoded;    // exchanges, once judged
    std::vector<Flag> flags;
};

// Decodes an exchange the conversation closed and adds the library's own troubles with it
// before the listener's. Kept apart from the conversation so that a relay can do it off the
// line's threads.
void judge(Seen& seen);

class Conversation {
  public:
    using Sink = std::function<void(const Seen&)>;

    // `window`: how long a host waits for a reply (the library's 500 ms).
    explicit Conversation(Sink sink, std::chrono::milliseconds window = kReplyTimeout);

    void from_host(std::span<const std::uint8_t> bytes, Clock::time_point at);
    void from_device(std::span<const std::uint8_t> bytes, Clock::time_point at);

    // The host closed its side: an exchange that has its whole reply is over.
    void host_closed();

    // Closes what is due by `now`; deadline() says when the next thing falls due. An exchange
    // is over at the next request, at the end of the time-out, or shortly after its whole
    // reply when no more bytes follow.
    void tick(Clock::time_point now);
    std::optional<Clock::time_point> deadline() const;

    // Closes everything, as at the end of listening.
    void finish(Clock::time_point now);

  private:
    struct Pending {
        Bytes request;
        Clock::time_point sent;  // the request's last byte
        std::size_t reply_length = 0;
        Bytes reply;
        Bytes surplus;
        std::optional<Clock::time_point> reply_end;  // last reply byte so far
        Clock::time_point last_byte;                 // from the device, reply or surplus
        bool complete() const { return reply.size() >= reply_length && reply_length > 0; }
        Clock::time_point due(std::chrono::milliseconds window) const;
    };
    struct StrayRun {
        bool from_host = false;
        Clock::time_point first;
        Clock::time_point last;
        Bytes bytes;
    };
    void close_exchange();
    void add_stray(bool from_host, std::span<const std::uint8_t> bytes, Clock::time_point at);
    void close_stray();
    std::chrono::system_clock::time_point wall(Clock::time_point at) const;

    Sink sink_;
    std::chrono::milliseconds window_;
    Clock::time_point origin_ = Clock::now();
    std::chrono::system_clock::time_point wall_origin_ = std::chrono::system_clock::now();
    protocol::RequestFramer framer_{true};
    std::optional<Pending> pending_;
    std::optional<StrayRun> stray_;
    // The last exchange closed without its whole reply: bytes after it may be its late reply.
    std::optional<Pending> timed_out_;
};

}  // namespace qk42rt::wire
