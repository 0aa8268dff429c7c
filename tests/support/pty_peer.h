// The instrument's end of a pseudo-terminal, played by a test: frames each request the
// library writes and answers with the chunks a responder returns (each after a delay).
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/scripted_port.h"

namespace qk42rt::testing {

struct Chunk {
    int delay_ms = 0;  // before these bytes go out
    Bytes bytes;
};
using Responder = std::function<std::vector<Chunk>(const Bytes& request)>;

class PtyPeer {
  public:
    explicit PtyPeer(Responder responder);
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& slave_path() const { return slave_path_; }
    std::vector<Bytes> requests() const;
    void send(const Bytes& bytes);  // raw bytes onto the line, outside any exchange
    void hang_up();                 // closes the master: the host sees the line go away

  private:
    void serve();

    int master_ = -1;
    std::string slave_path_;
    Responder responder_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<Bytes> requests_;
    std::thread thread_;
};

// Opens the slave side raw (as a test's second opener would) or fails with -1.
int open_raw(const std::string& path);

}  // namespace qk42rt::testing
