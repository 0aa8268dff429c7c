#include "conversation.h"

#include <algorithm>

#include "protocol/command_table.h"
#include "protocol/text.h"

namespace qk42rt::wire {
namespace {

// A run of stray bytes ends after this long without another; so does an exchange with its
// whole reply in (on a 9600 baud line a byte follows another within about a millisecond).
constexpr auto kStrayQuiet = std::chrono::milliseconds(50);
constexpr auto kAfterReplyQuiet = std::chrono::milliseconds(20);

constexpr std::string_view kNames[kTroubleKinds] = {
    "no reply",    "short reply", "wrong acknowledge", "unknown kind letter",
    "bad request", "stray bytes", "late reply",
};
constexpr std::string_view kKeys[kTroubleKinds] = {
    "no_reply",    "short_reply", "wrong_ack",  "unknown_kind",
    "bad_request", "stray_bytes", "late_reply",
};

double ms_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

std::optional<Trouble> trouble_of(Failure failure) {
    switch (failure) {
        case Failure::no_reply:
            return Trouble::no_reply;
        case Failure::short_reply:
            return Trouble::short_reply;
        case Failure::wrong_ack:
            return Trouble::wrong_ack;
        case Failure::unknown_kind:
            return Trouble::unknown_kind;
        case Failure::no_port:
        case Failure::line_closed:
            break;  // the in-memory port has neither
    }
    return std::nullopt;
}

std::string byte_count(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

}  // namespace

std::string_view trouble_name(Trouble trouble) {
    return kNames[static_cast<std::size_t>(trouble)];
}

std::string_view trouble_key(Trouble trouble) {
    return kKeys[static_cast<std::size_t>(trouble)];
}

Conversation::Conversation(Sink sink, std::chrono::milliseconds window)
    : sink_(std::move(sink)), window_(window) {}

void Conversation::from_host(std::span<const std::uint8_t> bytes, Clock::time_point at) {
    for (const std::uint8_t byte : bytes) {
        const bool complete = framer_.feed(byte);
        if (const Bytes dropped = framer_.take_dropped(); !dropped.empty()) {
            add_stray(true, dropped, at);
        }
        if (!complete) continue;
        close_stray();
        if (pending_) close_exchange();
        Pending next;
        next.request = framer_.request();
        next.sent = at;
        const std::uint8_t subcode = next.request.size() > 1 ? next.request[1] : 0;
        const auto info = protocol::command_info(protocol::code_of(next.request[0]), subcode);
        next.reply_length = info ? info->reply_length : 0;
        pending_ = std::move(next);
    }
}

void Conversation::from_device(std::span<const std::uint8_t> bytes, Clock::time_point at) {
    if (pending_ && at >= pending_->due(window_)) close_exchange();
    for (const std::uint8_t byte : bytes) {
        if (!pending_) {
            add_stray(false, std::span(&byte, 1), at);
            continue;
        }
        if (pending_->reply.size() < pending_->reply_length) {
            pending_->reply.push_back(byte);
            pending_->reply_end = at;
        } else {
            pending_->surplus.push_back(byte);
        }
        pending_->last_byte = at;
    }
}

Clock::time_point Conversation::Pending::due(std::chrono::milliseconds window) const {
    const Clock::time_point end = sent + window;
    return complete() ? std::min(end, last_byte + kAfterReplyQuiet) : end;
}

void Conversation::host_closed() {
    if (pending_ && pending_->complete()) close_exchange();
}

void Conversation::tick(Clock::time_point now) {
    if (pending_ && now >= pending_->due(window_)) close_exchange();
    if (stray_ && now >= stray_->last + kStrayQuiet) close_stray();
}

std::optional<Clock::time_point> Conversation::deadline() const {
    std::optional<Clock::time_point> due;
    if (pending_) due = pending_->due(window_);
    if (stray_) due = due ? std::min(*due, stray_->last + kStrayQuiet) : stray_->last + kStrayQuiet;
    return due;
}

void Conversation::finish(Clock::time_point) {
    close_stray();
    if (pending_) close_exchange();
    close_stray();
}

void Conversation::close_exchange() {
    Pending p = std::move(*pending_);
    pending_.reset();
    Seen seen;
    seen.time = wall(p.sent);
    seen.request = p.request;
    seen.reply = p.reply;
    seen.surplus = p.surplus;
    seen.reply_length = p.reply_length;
    if (p.reply_end) seen.latency_ms = ms_between(p.sent, *p.reply_end);
    if (!p.surplus.empty()) {
        if (p.reply_length == 0) {
            seen.flags.push_back(
                {Trouble::stray_bytes, byte_count(p.surplus.size()) + " (" +
                                           protocol::hex_bytes(p.surplus) +
                                           ") answer a request the library never sends"});
        } else if (timed_out_) {
            seen.flags.push_back(
                {Trouble::late_reply,
                 "the reply taken is probably the late reply to the request before (" +
                     protocol::hex_bytes(timed_out_->request) + "), and " +
                     byte_count(p.surplus.size()) + " after it (" + protocol::hex_bytes(p.surplus) +
                     ") this request's own"});
        } else {
            seen.flags.push_back(
                {Trouble::stray_bytes,
                 byte_count(p.surplus.size()) + " more than the reply of " +
                     std::to_string(p.reply_length) + " (" + protocol::hex_bytes(p.surplus) +
                     "): noise before it or surplus after it; the host took the first " +
                     std::to_string(p.reply_length)});
        }
    }
    if (p.reply.size() < p.reply_length) {
        timed_out_ = std::move(p);
    } else {
        timed_out_.reset();
    }
    sink_(seen);
}

void judge(Seen& seen) {
    if (seen.stray || seen.decoded) return;
    seen.decoded = decode_exchange(seen.request, seen.reply);
    const Decoded& decoded = *seen.decoded;
    std::vector<Flag> flags;
    if (decoded.error) {
        if (const auto trouble = trouble_of(decoded.error->why)) {
            flags.push_back({*trouble, describe(*decoded.error)});
        }
    }
    if (!decoded.problems.empty()) {
        std::string text;
        for (const auto& problem : decoded.problems) text += (text.empty() ? "" : "; ") + problem;
        flags.push_back({Trouble::bad_request, text});
    }
    flags.insert(flags.end(), seen.flags.begin(), seen.flags.end());
    seen.flags = std::move(flags);
}

void Conversation::add_stray(bool from_host, std::span<const std::uint8_t> bytes,
                             Clock::time_point at) {
    if (stray_ && stray_->from_host != from_host) close_stray();
    if (!stray_) stray_ = StrayRun{from_host, at, at, {}};
    stray_->bytes.insert(stray_->bytes.end(), bytes.begin(), bytes.end());
    stray_->last = at;
}

void Conversation::close_stray() {
    if (!stray_) return;
    StrayRun run = std::move(*stray_);
    stray_.reset();
    Seen seen;
    seen.stray = true;
    seen.from_host = run.from_host;
    seen.time = wall(run.first);
    seen.bytes = run.bytes;
    const std::string count = byte_count(run.bytes.size());
    if (run.from_host) {
        seen.flags.push_back(
            {Trouble::stray_bytes, count + " from the host that make no request (noise, or a "
                                           "request cut short)"});
    } else if (timed_out_ && run.first > timed_out_->sent + window_) {
        char after[32];
        std::snprintf(after, sizeof after, "%.0f ms", ms_between(timed_out_->sent, run.first));
        seen.flags.push_back(
            {Trouble::late_reply,
             count + " from the device " + after + " after the request " +
                 protocol::hex_bytes(timed_out_->request) +
                 ", which got no whole reply in time: a host that does not clear its input "
                 "takes them for its next reply"});
        timed_out_.reset();
    } else {
        seen.flags.push_back(
            {Trouble::stray_bytes, count + " from the device outside any exchange"});
    }
    sink_(seen);
}

std::chrono::system_clock::time_point Conversation::wall(Clock::time_point at) const {
    return wall_origin_ +
           std::chrono::duration_cast<std::chrono::system_clock::duration>(at - origin_);
}

}  // namespace qk42rt::wire
