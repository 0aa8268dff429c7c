// Cuts the byte stream from the host into requests. The header is the only request byte with
// bit 7 set, so a byte with bit 7 set always starts a new request: an unfinished request is
// dropped, and framing recovers at the next header after noise or a truncated write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qk42rt::protocol {

class RequestFramer {
  public:
    // `bit7_data_as_sent`: take a byte with bit 7 set as data in the three places where the
    // library sends one unmasked (protocol::may_carry_bit7), as a listener on the line that
    // wants the host's requests as sent would. The instrument (the default) takes it as a header.
    explicit RequestFramer(bool bit7_data_as_sent = false)
        : bit7_data_as_sent_(bit7_data_as_sent) {}

    // Feeds one byte; returns true when it completed a request, now in request().
    bool feed(std::uint8_t byte);

    const std::vector<std::uint8_t>& request() const { return request_; }

    // Bytes thrown away so far: noise outside a request and unfinished requests.
    std::uint64_t dropped() const { return dropped_; }

    // The bytes most recently thrown away; cleared by take_dropped().
    std::vector<std::uint8_t> take_dropped();

  private:
    void drop_partial();

    std::vector<std::uint8_t> partial_;
    std::vector<std::uint8_t> request_;
    std::vector<std::uint8_t> recent_drops_;
    std::size_t expected_ = 0;  // length of the request in partial_, 0 when none started
    bool bit7_data_as_sent_ = false;
    std::uint64_t dropped_ = 0;
};

}  // namespace qk42rt::protocol
