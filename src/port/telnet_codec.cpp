#include "port/telnet_codec.h"

#include <utility>

namespace qk42rt::telnet {

std::size_t Decoder::decode(std::span<std::uint8_t> raw) {
    std::size_t out = 0;
    for (const std::uint8_t byte : raw) {
        switch (state_) {
            case State::data:
                if (byte == kIac) {
                    state_ = State::iac;
                } else {
                    raw[out++] = byte;
                }
                break;
            case State::iac:
                if (byte == kIac) {  // a doubled 0xFF is one data byte
                    raw[out++] = byte;
                    state_ = State::data;
                } else if (byte >= kWill && byte <= kDont) {
                    verb_ = byte;
                    state_ = State::verb;
                } else if (byte == kSb) {
                    current_ = {};
                    state_ = State::sb;
                } else {
                    state_ = State::data;  // NOP, GA, data mark and the like: nothing to do
                }
                break;
            case State::verb:
                negotiate(verb_, byte);
                state_ = State::data;
                break;
            case State::sb:
                current_.option = byte;
                state_ = State::sb_data;
                break;
            case State::sb_data:
                if (byte == kIac) {
                    state_ = State::sb_iac;
                } else {
                    current_.payload.push_back(byte);
                }
                break;
            case State::sb_iac:
                if (byte == kIac) {
                    current_.payload.push_back(byte);
                    state_ = State::sb_data;
                } else {
                    // IAC SE ends it; any other command here also ends a malformed one.
                    subnegotiations_.push_back(std::move(current_));
                    current_ = {};
                    state_ = State::data;
                }
                break;
        }
    }
    return out;
}

std::vector<std::uint8_t> Decoder::opening_requests() {
    options_[kComPort].ours_asked = true;
    options_[kBinary].ours_asked = true;
    options_[kBinary].theirs_asked = true;
    return {kIac, kWill, kComPort, kIac, kWill, kBinary, kIac, kDo, kBinary};
}

// Each side's state changes only on a request that changes it, and only then is it answered,
// so two sides never echo requests back and forth.
void Decoder::negotiate(std::uint8_t verb, std::uint8_t option) {
    Option& state = options_[option];
    switch (verb) {
        case kDo:  // the server asks this side to use `option`
            if (state.ours_asked) {
                state.ours = true;
                state.ours_asked = false;
            } else if (!state.ours) {
                if (wanted(option)) {
                    state.ours = true;
                    answer(kWill, option);
                } else {
                    answer(kWont, option);
                }
            }
            break;
        case kDont:
            if (state.ours_asked) {
                state.refused = true;
                state.ours_asked = false;
            } else if (state.ours) {
                state.ours = false;
                state.refused = true;
                answer(kWont, option);
            }
            break;
        case kWill:  // the server offers to use `option`
            if (state.theirs_asked) {
                state.theirs = true;
                state.theirs_asked = false;
            } else if (!state.theirs) {
                if (wanted(option)) {
                    state.theirs = true;
                    answer(kDo, option);
                } else {
                    answer(kDont, option);
                }
            }
            break;
        case kWont:
            if (state.theirs_asked) {
                state.refused = true;
                state.theirs_asked = false;
            } else if (state.theirs) {
                state.theirs = false;
                state.refused = true;
                answer(kDont, option);
            }
            break;
        default:
            break;
    }
}

void Decoder::answer(std::uint8_t verb, std::uint8_t option) {
    answers_.insert(answers_.end(), {kIac, verb, option});
}

std::vector<std::uint8_t> Decoder::take_answers() {
    return std::exchange(answers_, {});
}

std::vector<Subnegotiation> Decoder::take_subnegotiations() {
    return std::exchange(subnegotiations_, {});
}

void escape(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out) {
    for (const std::uint8_t byte : data) {
        out.push_back(byte);
        if (byte == kIac) out.push_back(kIac);
    }
}

std::vector<std::uint8_t> subnegotiation(std::uint8_t option,
                                         std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> out{kIac, kSb, option};
    escape(payload, out);
    out.insert(out.end(), {kIac, kSe});
    return out;
}

}  // namespace qk42rt::telnet
