#include "sniff_report.h"

#include <algorithm>
#include <cstdio>

#include "protocol/text.h"

namespace qk42rt::wire {
namespace {

// Troubles the decoded meaning does not already tell.
bool listener_only(Trouble trouble) {
    return trouble == Trouble::stray_bytes || trouble == Trouble::late_reply;
}

std::string ms_text(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", ms);
    return text;
}

nlohmann::json flags_json(const Seen& seen) {
    nlohmann::json flags = nlohmann::json::array();
    for (const Flag& flag : seen.flags) {
        flags.push_back({{"kind", trouble_key(flag.kind)}, {"text", flag.text}});
    }
    return flags;
}

}  // namespace

std::string seen_line(const Seen& seen) {
    std::string line = utc_text(seen.time) + "  ";
    if (seen.stray) {
        line +=
            std::string(seen.from_host ? "host" : "device") + " " + protocol::hex_bytes(seen.bytes);
        for (const Flag& flag : seen.flags)
            line += "  !! " + std::string(trouble_name(flag.kind)) + ": " + flag.text;
        return line;
    }
    line += protocol::hex_bytes(seen.request) + " -> " +
            (seen.reply.empty() ? std::string("(nothing)") : protocol::hex_bytes(seen.reply));
    if (!seen.surplus.empty()) line += " + " + protocol::hex_bytes(seen.surplus);
    line += "  " + (seen.latency_ms ? ms_text(*seen.latency_ms) : std::string("-")) + "  ";
    line += decoded_line(*seen.decoded);
    for (const Flag& flag : seen.flags) {
        if (listener_only(flag.kind))
            line += "  !! " + std::string(trouble_name(flag.kind)) + ": " + flag.text;
    }
    return line;
}

std::string seen_json(const Seen& seen) {
    nlohmann::json json;
    if (seen.stray) {
        json["time"] = utc_text(seen.time);
        json["stray"] = seen.from_host ? "host" : "device";
        json["bytes"] = protocol::hex_bytes(seen.bytes);
    } else {
        json = seen.decoded->json;
        json["time"] = utc_text(seen.time);
        json["surplus"] = protocol::hex_bytes(seen.surplus);
        json["latency_ms"] = seen.latency_ms ? nlohmann::json(*seen.latency_ms) : nullptr;
    }
    json["flags"] = flags_json(seen);
    return json.dump();
}

std::optional<Recorded> seen_record(const Seen& seen) {
    if (seen.stray) return std::nullopt;
    Recorded recorded;
    recorded.time = utc_text(seen.time);
    recorded.request = seen.request;
    // Everything the device sent within the time-out, so that a replay hands the host the
    // same bytes, surplus included.
    recorded.reply = seen.reply;
    recorded.reply.insert(recorded.reply.end(), seen.surplus.begin(), seen.surplus.end());
    if (seen.reply.size() == seen.reply_length && seen.latency_ms)
        recorded.latency_ms = seen.latency_ms;
    return recorded;
}

void Summary::add(const Seen& seen) {
    if (!seen.stray) {
        ++exchanges_;
        if (!seen.flags.empty()) ++troubled_;
        if (seen.reply_length > 0 && seen.reply.size() == seen.reply_length && seen.latency_ms) {
            latencies_.push_back(*seen.latency_ms);
        }
    }
    for (const Flag& flag : seen.flags) ++counts_[static_cast<std::size_t>(flag.kind)];
}

std::string Summary::text() const {
    std::string text = std::to_string(exchanges_) + (exchanges_ == 1 ? " exchange" : " exchanges") +
                       ", " + std::to_string(troubled_) + " with trouble";
    for (std::size_t i = 0; i < kTroubleKinds; ++i) {
        if (counts_[i] == 0) continue;
        text += "; " + std::string(trouble_name(static_cast<Trouble>(i))) + " " +
                std::to_string(counts_[i]);
    }
    text += "\n";
    if (latencies_.empty()) {
        text += "no whole reply to time\n";
        return text;
    }
    std::vector<double> sorted = latencies_;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
    text += "reply latency median " + ms_text(median) + ", maximum " + ms_text(sorted.back()) +
            " over " + std::to_string(n) + (n == 1 ? " whole reply\n" : " whole replies\n");
    return text;
}

}  // namespace qk42rt::wire
