#include "served.h"

#include <signal.h>

#include <chrono>
#include <regex>
#include <stdexcept>
#include <thread>

namespace qk42rt::testing {

Served::Served(const std::string& device, std::vector<std::string> args) {
    std::vector<std::string> words{"--device", device, "serve", "--listen", "127.0.0.1:0"};
    words.insert(words.end(), args.begin(), args.end());
    start(words);
}

Served::Served(const ConfigFile& config) {
    start({"serve", "--config", config.path});
}

void Served::start(const std::vector<std::string>& words) {
    process_ = std::make_unique<ChildProcess>(kClientProgram, words);
    wait_listening();
}

Served::Served(const CommandLine& command_line) {
    start(command_line.words);
}

void Served::wait_listening() {
    std::smatch match;
    const std::regex listening("listening: http://127\\.0\\.0\\.1:([0-9]+)/");
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until) {
        const std::string out = process_->so_far(50).out;
        if (std::regex_search(out, match, listening)) {
            port_ = std::stoi(match[1]);
            url_ = "http://127.0.0.1:" + match[1].str();
            return;
        }
    }
    throw std::runtime_error("the server did not start: " + process_->so_far().err);
}

Served::~Served() = default;

httplib::Client Served::client() const {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(10, 0);
    client.set_connection_timeout(5, 0);
    return client;
}

Finished Served::stop() {
    process_->send_signal(SIGTERM);
    return process_->finish(10'000);
}

Finished Served::kill() {
    process_->send_signal(SIGKILL);
    return process_->finish(10'000);
}

std::string Served::stderr_so_far() {
    return process_->so_far().err;
}

sim::Options test_sim_options(std::vector<int> addresses, bool tcp) {
    sim::Options options;
    options.addresses = std::move(addresses);
    options.time_constant_s = 0.0;
    if (tcp) options.tcp_listen = "127.0.0.1:0";
    return options;
}

bool eventually(const std::function<bool()>& done, int timeout_ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace qk42rt::testing
