#include "support/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "protocol/command_table.h"

namespace qk42rt::testing {

PtyPeer::PtyPeer(Responder responder) : responder_(std::move(responder)) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    slave_path_ = ptsname(master_);
    thread_ = std::thread([this] { serve(); });
}

PtyPeer::~PtyPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) ::close(master_);
}

std::vector<Bytes> PtyPeer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void PtyPeer::send(const Bytes& bytes) {
    if (::write(master_, bytes.data(), bytes.size()) < 0) throw std::runtime_error("write");
}

void PtyPeer::hang_up() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    ::close(master_);
    master_ = -1;
}

void PtyPeer::serve() {
    Bytes request;
    while (!stop_) {
        pollfd waiting{master_, POLLIN, 0};
        if (poll(&waiting, 1, 20) <= 0) continue;
        if (!(waiting.revents & POLLIN)) {
            // No slave open yet (or any more): the master reports hang-up until one opens.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        std::uint8_t byte = 0;
        if (::read(master_, &byte, 1) != 1) continue;
        const bool data_with_bit7 =
            !request.empty() &&
            protocol::may_carry_bit7(protocol::code_of(request[0]), request.size());
        if ((byte & 0x80) && !data_with_bit7) request.clear();  // a header starts a request
        if (request.empty() && !(byte & 0x80)) continue;        // not a request: drop
        request.push_back(byte);
        const auto code = protocol::code_of(request[0]);
        if (request.size() < protocol::request_length(code)) continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        for (const Chunk& chunk : responder_(request)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(chunk.delay_ms));
            if (!chunk.bytes.empty()) send(chunk.bytes);
        }
        request.clear();
    }
}

int open_raw(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

}  // namespace qk42rt::testing
