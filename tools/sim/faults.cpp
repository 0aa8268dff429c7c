#include "faults.h"

#include <array>
#include <charconv>
#include <utility>

namespace qk42rt::sim {
namespace {

constexpr std::array<std::pair<FaultKind, std::string_view>, 8> kNames{{
    {FaultKind::no_reply, "no-reply"},
    {FaultKind::late_reply, "late-reply"},
    {FaultKind::split_reply, "split-reply"},
    {FaultKind::short_reply, "short-reply"},
    {FaultKind::surplus_bytes, "surplus"},
    {FaultKind::wrong_ack, "wrong-ack"},
    {FaultKind::garbage_before, "garbage"},
    {FaultKind::hang_up, "hang-up"},
}};

// A whole-string integer, decimal or 0x hexadecimal.
std::optional<long long> parse_integer(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

std::optional<double> parse_double(std::string_view text) {
    double value = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

bool apply_key(FaultRule& rule, std::string_view key, std::string_view value, std::string& error) {
    const auto bad = [&](std::string_view why) {
        error = std::string(key) + "=" + std::string(value) + ": " + std::string(why);
        return false;
    };
    if (key == "probability") {
        const auto p = parse_double(value);
        if (!p || !(*p >= 0.0 && *p <= 1.0)) return bad("expected a number from 0 to 1");
        rule.probability = *p;
        return true;
    }
    const auto n = parse_integer(value);
    if (!n) return bad("expected an integer");
    if (key == "code") {
        if (*n < 0 || *n > 15) return bad("a command code is 0x0 to 0xF");
        rule.code = static_cast<std::uint8_t>(*n);
    } else if (key == "count") {
        if (*n < -1 || *n > 1'000'000'000) return bad("expected -1 (no limit) or a count");
        rule.count = static_cast<int>(*n);
    } else if (key == "seed") {
        if (*n < 0 || *n > 0xFFFFFFFFLL) return bad("expected 0 to 4294967295");
        rule.seed = static_cast<std::uint32_t>(*n);
    } else if (key == "delay") {
        if (*n < 0 || *n > 600'000) return bad("expected 0 to 600000 ms");
        rule.delay_ms = static_cast<int>(*n);
    } else if (key == "extra") {
        if (*n < 0 || *n > 4096) return bad("expected 0 to 4096 bytes");
        rule.extra = static_cast<int>(*n);
    } else {
        error =
            "unknown key '" + std::string(key) + "' (code, count, probability, seed, delay, extra)";
        return false;
    }
    return true;
}

}  // namespace

ReplyPlan plan_reply(const std::vector<std::uint8_t>& reply, const FaultRule* fault) {
    ReplyPlan plan;
    if (!fault) {
        plan.steps.push_back({0, reply});
        return plan;
    }
    const auto extra = static_cast<std::size_t>(fault->extra > 0 ? fault->extra : 0);
    switch (fault->kind) {
        case FaultKind::no_reply:
            break;
        case FaultKind::late_reply:
            plan.steps.push_back({fault->delay_ms, reply});
            break;
        case FaultKind::split_reply: {
            const auto half = static_cast<std::ptrdiff_t>(reply.size() / 2);
            plan.steps.push_back({0, {reply.begin(), reply.begin() + half}});
            plan.steps.push_back({fault->delay_ms, {reply.begin() + half, reply.end()}});
            break;
        }
        case FaultKind::short_reply:
            plan.steps.push_back({0, {reply.begin(), reply.end() - (reply.empty() ? 0 : 1)}});
            break;
        case FaultKind::surplus_bytes: {
            std::vector<std::uint8_t> bytes = reply;
            bytes.insert(bytes.end(), extra, kSurplusByte);
            plan.steps.push_back({0, std::move(bytes)});
            break;
        }
        case FaultKind::wrong_ack: {
            std::vector<std::uint8_t> bytes = reply;
            if (!bytes.empty()) bytes[0] = static_cast<std::uint8_t>(bytes[0] ^ 0x40u);
            plan.steps.push_back({0, std::move(bytes)});
            break;
        }
        case FaultKind::garbage_before: {
            std::vector<std::uint8_t> bytes(extra, kGarbageByte);
            bytes.insert(bytes.end(), reply.begin(), reply.end());
            plan.steps.push_back({0, std::move(bytes)});
            break;
        }
        case FaultKind::hang_up:
            plan.hang_up = true;
            break;
    }
    return plan;
}

void FaultBook::add(const FaultRule& rule) {
    entries_.push_back({rule, std::mt19937(rule.seed)});
}

std::optional<FaultRule> FaultBook::draw(std::uint8_t code) {
    for (Entry& entry : entries_) {
        FaultRule& rule = entry.rule;
        if (rule.count == 0 || (rule.code && *rule.code != code)) continue;
        if (rule.probability < 1.0) {
            // mt19937's output is fixed by the standard, so a seed gives the same faults on
            // every platform (the standard distributions are not).
            const double draw = static_cast<double>(entry.rng()) / 4294967296.0;
            if (!(draw < rule.probability)) continue;
        }
        if (rule.count > 0) --rule.count;
        return rule;
    }
    return std::nullopt;
}

std::string_view fault_name(FaultKind kind) {
    for (const auto& [k, name] : kNames) {
        if (k == kind) return name;
    }
    return "unknown";
}

std::optional<FaultRule> parse_fault(std::string_view text, std::string& error) {
    const std::size_t colon = text.find(':');
    const std::string_view kind_text = text.substr(0, colon);
    FaultRule rule;
    bool known = false;
    for (const auto& [kind, name] : kNames) {
        if (name == kind_text) {
            rule.kind = kind;
            known = true;
        }
    }
    if (!known) {
        error = "unknown fault '" + std::string(kind_text) +
                "' (no-reply, late-reply, split-reply, short-reply, surplus, wrong-ack, garbage, "
                "hang-up)";
        return std::nullopt;
    }
    std::string_view rest = colon == std::string_view::npos ? "" : text.substr(colon + 1);
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? "" : rest.substr(comma + 1);
        const std::size_t equals = item.find('=');
        if (equals == std::string_view::npos) {
            error = "expected key=value, got '" + std::string(item) + "'";
            return std::nullopt;
        }
        if (!apply_key(rule, item.substr(0, equals), item.substr(equals + 1), error)) {
            return std::nullopt;
        }
    }
    return rule;
}

}  // namespace qk42rt::sim
