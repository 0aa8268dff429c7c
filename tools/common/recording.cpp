#include "recording.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "protocol/text.h"

namespace qk42rt {
namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool separator(char c) {
    return std::isspace(static_cast<unsigned char>(c)) || c == ',';
}

}  // namespace

std::string record_line(const Recorded& recorded) {
    nlohmann::json json;
    json["time"] = recorded.time;
    json["request"] = protocol::hex_bytes(recorded.request);
    json["reply"] = protocol::hex_bytes(recorded.reply);
    if (recorded.latency_ms) {
        // Microseconds are all a line's timing can tell.
        json["latency_ms"] = std::round(*recorded.latency_ms * 1000.0) / 1000.0;
    } else {
        json["latency_ms"] = nullptr;
    }
    return json.dump();
}

std::optional<Recorded> parse_record_line(std::string_view line, std::string& error) {
    const nlohmann::json json = nlohmann::json::parse(line, nullptr, false);
    if (json.is_discarded() || !json.is_object()) {
        error = "not a JSON object";
        return std::nullopt;
    }
    Recorded recorded;
    for (const char* field : {"request", "reply"}) {
        const auto found = json.find(field);
        if (found == json.end() || !found->is_string()) {
            error = std::string("no \"") + field + "\" text";
            return std::nullopt;
        }
        std::string why;
        const auto bytes = parse_hex(found->get<std::string>(), why);
        if (!bytes) {
            error = std::string("\"") + field + "\": " + why;
            return std::nullopt;
        }
        (std::string_view(field) == "request" ? recorded.request : recorded.reply) = *bytes;
    }
    if (recorded.request.empty()) {
        error = "an empty \"request\"";
        return std::nullopt;
    }
    if (const auto time = json.find("time"); time != json.end() && time->is_string()) {
        recorded.time = time->get<std::string>();
    }
    if (const auto latency = json.find("latency_ms"); latency != json.end()) {
        if (latency->is_number()) {
            const double ms = latency->get<double>();
            if (!std::isfinite(ms) || ms < 0) {
                error = "\"latency_ms\" below 0";
                return std::nullopt;
            }
            recorded.latency_ms = ms;
        } else if (!latency->is_null()) {
            error = "\"latency_ms\" is neither a number nor null";
            return std::nullopt;
        }
    }
    return recorded;
}

std::optional<Bytes> parse_hex(std::string_view text, std::string& error) {
    Bytes bytes;
    std::size_t i = 0;
    while (i < text.size()) {
        if (separator(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !separator(text[end])) ++end;
        std::string_view word = text.substr(i, end - i);
        const std::string_view typed = word;
        i = end;
        if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
            word.remove_prefix(2);
        }
        bool good = word.size() % 2 == 0;
        for (const char c : word) good = good && hex_digit(c) >= 0;
        if (!good) {
            error = "not hex bytes: '" + std::string(typed) + "'";
            return std::nullopt;
        }
        for (std::size_t j = 0; j < word.size(); j += 2) {
            bytes.push_back(
                static_cast<std::uint8_t>(hex_digit(word[j]) << 4 | hex_digit(word[j + 1])));
        }
    }
    return bytes;
}

Recorder::Recorder(const std::string& path) : file_(std::fopen(path.c_str(), "a")) {
    if (!file_) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
}

Recorder::~Recorder() {
    std::fclose(file_);
}

void Recorder::write(const Recorded& recorded) {
    const std::string line = record_line(recorded) + "\n";
    const std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);  // a recording cut off by a crash keeps every exchange before it
}

protocol::TraceHook recording_trace(Recorder& recorder) {
    return [&recorder](const protocol::Request& request, const protocol::Reply& reply) {
        Recorded recorded;
        const auto written =
            std::chrono::system_clock::now() -
            std::chrono::duration_cast<std::chrono::system_clock::duration>(reply.waited);
        recorded.time = utc_text(written);
        const auto sent = request.view();
        recorded.request.assign(sent.begin(), sent.end());
        const auto got = reply.view();
        recorded.reply.assign(got.begin(), got.end());
        // A read that ended at its time-out tells nothing of when the last byte came.
        if (reply.size > 0 && reply.size == reply.expected) {
            recorded.latency_ms = std::chrono::duration<double, std::milli>(reply.waited).count();
        }
        recorder.write(recorded);
    };
}

}  // namespace qk42rt
