// Whether a text is one JSON value (RFC 8259 grammar, no more): enough to tell that the
// client's --json output will parse in any script.
#pragma once

#include <cctype>
#include <cstring>
#include <string_view>

namespace qk42rt::testing {

class JsonCheck {
  public:
    explicit JsonCheck(std::string_view text) : text_(text) {}

    bool whole_value() { return value() && (space(), at_ == text_.size()); }

  private:
    void space() {
        while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_]) != nullptr) ++at_;
    }
    bool take(char c) {
        space();
        if (at_ < text_.size() && text_[at_] == c) return ++at_, true;
        return false;
    }
    bool word(std::string_view w) {
        if (text_.substr(at_, w.size()) != w) return false;
        return at_ += w.size(), true;
    }
    bool digits() {
        const std::size_t start = at_;
        while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) ++at_;
        return at_ > start;
    }
    bool number() {
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        if (!digits()) return false;
        if (at_ < text_.size() && text_[at_] == '.' && (++at_, !digits())) return false;
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            if (!digits()) return false;
        }
        return true;
    }
    bool string() {
        if (!take('"')) return false;
        while (at_ < text_.size() && text_[at_] != '"') {
            if (static_cast<unsigned char>(text_[at_]) < 0x20) return false;
            at_ += text_[at_] == '\\' ? 2 : 1;
        }
        return at_ < text_.size() && (++at_, true);
    }
    template <class Item>
    bool sequence(char close, Item item) {
        if (take(close)) return true;
        do {
            if (!item()) return false;
        } while (take(','));
        return take(close);
    }
    bool value() {
        space();
        if (at_ >= text_.size()) return false;
        switch (text_[at_]) {
            case '{':
                ++at_;
                return sequence('}', [this] { return string() && take(':') && value(); });
            case '[':
                ++at_;
                return sequence(']', [this] { return value(); });
            case '"':
                return string();
            case 't':
                return word("true");
            case 'f':
                return word("false");
            case 'n':
                return word("null");
            default:
                return number();
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

inline bool is_json(std::string_view text) {
    return JsonCheck(text).whole_value();
}

}  // namespace qk42rt::testing
