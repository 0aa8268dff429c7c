#include "support/sim_process.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace qk42rt::testing {
namespace {

bool has(const std::vector<std::string>& options, const char* option) {
    return std::find(options.begin(), options.end(), option) != options.end();
}

}  // namespace

SimProcess::SimProcess(const std::string& program, const std::vector<std::string>& options)
    : child_(program, options, {.input = false, .capture_stderr = false}) {
    while ((!has(options, "--no-pty") && device_.empty()) ||
           (has(options, "--tcp") && tcp_port_ == 0)) {
        const auto line = child_.read_line(10'000);
        if (!line) throw std::runtime_error("qk42rt-sim did not start");
        if (line->starts_with("slave: ")) {
            device_ = line->substr(7);
        } else if (line->starts_with("tcp: ")) {
            tcp_port_ = static_cast<std::uint16_t>(std::stoi(line->substr(line->rfind(':') + 1)));
        } else {
            throw std::runtime_error("qk42rt-sim said: " + *line);
        }
    }
    reader_ = std::thread([this] { read_output(); });
}

SimProcess::~SimProcess() {
    child_.send_signal(SIGKILL);  // its output ends, and so does the reader
    reader_.join();
}

void SimProcess::read_output() {
    while (!child_.output_ended()) {
        const auto line = child_.read_line(1000);
        SimExchange e;
        std::lock_guard lock(mutex_);
        if (line == "event: line hung up" || line == "event: tcp client left") {
            ++hangups_;
        } else if (line && std::sscanf(line->c_str(), "exchange: %lf %lf %lf %d %d", &e.request_s,
                                       &e.reply_start_s, &e.reply_end_s, &e.request_bytes,
                                       &e.reply_bytes) == 5) {
            ++requests_;
            if (recording_) recorded_.push_back(e);
        }
        changed_.notify_all();
    }
}

std::uint64_t SimProcess::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::uint64_t SimProcess::hangups() const {
    std::lock_guard lock(mutex_);
    return hangups_;
}

void SimProcess::wait_for_hangups(std::uint64_t count) const {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(5), [&] { return hangups_ >= count; })) {
        throw std::runtime_error("the simulator did not see the line closed");
    }
}

void SimProcess::record() {
    std::lock_guard lock(mutex_);
    recorded_.clear();
    recording_ = true;
}

std::vector<SimExchange> SimProcess::take_recorded() {
    std::lock_guard lock(mutex_);
    recording_ = false;
    return std::move(recorded_);
}

}  // namespace qk42rt::testing
