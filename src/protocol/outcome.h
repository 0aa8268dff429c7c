// What an operation gives back to its C++ callers: the value, or why there is none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace qk42rt {

enum class Failure : std::uint8_t {
    no_port,       // no port is held
    no_reply,      // nothing arrived within the reply time-out
    short_reply,   // fewer bytes than the command's reply length
    wrong_ack,     // the one reply byte is not the acknowledge byte
    unknown_kind,  // the version reply's kind letter is neither 'M' nor 'C'
    line_closed,   // the line went away: the device hung up or the server dropped the connection
};

struct Error {
    Failure why = Failure::no_reply;
    std::size_t received = 0;  // bytes that arrived
    std::size_t expected = 0;  // bytes the command's reply has
    std::uint8_t got = 0;      // the wrong acknowledge byte or kind letter
    std::uint8_t wanted = 0;   // the acknowledge byte that was due
    int timeout_ms = 500;      // the reply time-out the read ran under
};

// One line of text, for example "short reply: 3 of 5 bytes".
std::string describe(const Error& error);

// For operations that return nothing but success.
struct Done {};

template <class T>
class Outcome {
  public:
    Outcome(T value) : value_(std::move(value)) {}
    Outcome(Error error) : error_(error) {}

    bool ok() const { return value_.has_value(); }
    const T& value() const { return *value_; }
    const Error& error() const { return error_; }

  private:
    std::optional<T> value_;
    Error error_{};
};

}  // namespace qk42rt
