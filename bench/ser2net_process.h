// ser2net as the device server in front of the simulator's pseudo-terminal, raw or in Telnet
// RFC 2217 mode, on a free loopback port.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "child_process.h"

namespace qk42rt::bench {

class Ser2netProcess {
  public:
    enum class Mode { raw, rfc2217 };

    // Starts `program` serving `device` at 9600 8N1 and waits until it listens; throws when it
    // does not within five seconds.
    Ser2netProcess(const std::string& program, const std::string& device, Mode mode);
    ~Ser2netProcess();
    Ser2netProcess(const Ser2netProcess&) = delete;
    Ser2netProcess& operator=(const Ser2netProcess&) = delete;

    std::uint16_t port() const { return port_; }
    // tcp://127.0.0.1:PORT or rfc2217://127.0.0.1:PORT
    const std::string& url() const { return url_; }

  private:
    void remove_files() const;

    std::string config_path_;
    std::uint16_t port_ = 0;
    std::string url_;
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace qk42rt::bench
