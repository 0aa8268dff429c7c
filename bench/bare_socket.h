// The floor for a device server: one exchange straight on the socket calls (drain what has
// arrived with a non-blocking recv, send, wait with poll, recv), no library in between.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qk42rt::bench {

class BareSocket {
  public:
    enum class Framing {
        raw,     // the instrument's bytes pass unchanged
        telnet,  // on an already negotiated Telnet connection: a 0xFF data byte comes doubled
    };

    // Uses the connected socket `fd` without owning it; TCP_NODELAY is turned on.
    BareSocket(int fd, Framing framing);

    // Reply bytes received of `reply.size()`, within 500 ms of the send. A request must hold
    // no 0xFF on a Telnet connection: none of the timed ones does, so none is escaped.
    std::size_t exchange(std::span<const std::uint8_t> request, std::span<std::uint8_t> reply);

  private:
    // Drops the second byte of each doubled 0xFF in reply[from, to); the new end.
    std::size_t undouble(std::span<std::uint8_t> reply, std::size_t from, std::size_t to);

    int fd_;
    Framing framing_;
    bool after_iac_ = false;
};

// The descriptor of this process's one TCP connection to 127.0.0.1:`port` (or [::1]), found
// among its open descriptors; throws when there is none or more than one.
int connection_to_loopback_port(std::uint16_t port);

}  // namespace qk42rt::bench
