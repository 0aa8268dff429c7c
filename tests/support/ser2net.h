// Debian's ser2net as a real device server in front of a serial device (here the simulator's
// pseudo-terminal), raw or in Telnet RFC 2217 mode, on a free loopback port.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/child_process.h"

namespace qk42rt::testing {

inline const std::string kSer2netProgram = "/usr/sbin/ser2net";

struct Ser2netTuning {
    std::string program = kSer2netProgram;
    // ser2net holds what the device sends for two character times (at least 1 ms) in case
    // more follows; off, it passes each read on at once.
    bool char_delay = true;
};

class Ser2net {
  public:
    enum class Mode { raw, rfc2217 };

    // Starts ser2net and waits until it listens; std::runtime_error when it does not.
    // `line_settings` is what ser2net sets on the device when a client connects, in its own
    // notation ("9600n81"; an RFC 2217 client may change it).
    Ser2net(const std::string& device, Mode mode, const std::string& line_settings = "9600n81",
            const Ser2netTuning& tuning = {});
    ~Ser2net();
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    // tcp://127.0.0.1:PORT or rfc2217://127.0.0.1:PORT
    const std::string& url() const { return url_; }
    std::uint16_t port() const { return port_; }

  private:
    std::string config_path_;
    std::uint16_t port_ = 0;
    std::string url_;
    std::unique_ptr<ChildProcess> process_;
};

// A loopback port nobody listens on right now.
std::uint16_t free_loopback_port();

// Whether something listens on 127.0.0.1:port, read from /proc/net/tcp.
bool listening_on_loopback(std::uint16_t port);

}  // namespace qk42rt::testing
