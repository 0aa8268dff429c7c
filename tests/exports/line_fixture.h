// A test instrument on a pseudo-terminal, mapped to a port number, answering each request
// with the chunks the test scripted for it.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <mutex>

#include "qk42rt.h"
#include "support/port_map.h"
#include "support/pty_peer.h"

namespace qk42rt::testing {

class ScriptedInstrument {
  public:
    ScriptedInstrument()
        : peer_(std::make_unique<PtyPeer>([this](const Bytes&) { return next(); })) {
        map_port(kTestPort, peer_->slave_path());
    }
    ~ScriptedInstrument() { unmap_ports(); }

    // The answer to the next request: chunks, each after its delay.
    void answer(std::vector<Chunk> chunks) {
        std::lock_guard<std::mutex> lock(mutex_);
        script_.push_back(std::move(chunks));
    }
    void answer(const std::string& reply) { answer({Chunk{0, hex(reply)}}); }

    PtyPeer& peer() { return *peer_; }
    std::string last_request() const {
        auto requests = peer_->requests();
        return requests.empty() ? "" : hex(requests.back());
    }
    std::size_t request_count() const { return peer_->requests().size(); }

  private:
    std::vector<Chunk> next() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (script_.empty()) return {};
        auto chunks = std::move(script_.front());
        script_.pop_front();
        return chunks;
    }

    std::mutex mutex_;
    std::deque<std::vector<Chunk>> script_;
    std::unique_ptr<PtyPeer> peer_;
};

}  // namespace qk42rt::testing
