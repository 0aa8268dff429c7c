// A TCP server on 127.0.0.1 played by a test: each accepted connection is handed to a
// handler on the server's thread, one at a time, as a device server would serve them.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace qk42rt::testing {

class LoopbackServer {
  public:
    // The handler owns nothing: the connection is closed when it returns.
    using Handler = std::function<void(int connection)>;

    // backlog 0 and `fill_backlog`: one connection is made and never accepted, so that the
    // kernel drops every later SYN, as a server that accepts nothing.
    explicit LoopbackServer(Handler handler, bool fill_backlog = false);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t port() const { return port_; }
    bool stopping() const { return stop_; }

  private:
    void serve();

    int listener_ = -1;
    int filler_ = -1;
    std::uint16_t port_ = 0;
    Handler handler_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Reads exactly `count` bytes within `limit`; fewer when the time is up or the peer closes.
std::vector<std::uint8_t> read_bytes(int connection, std::size_t count,
                                     std::chrono::milliseconds limit);
void write_bytes(int connection, const std::vector<std::uint8_t>& bytes);

}  // namespace qk42rt::testing
