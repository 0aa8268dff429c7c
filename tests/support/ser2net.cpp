#include "support/ser2net.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace qk42rt::testing {

std::uint16_t free_loopback_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    std::uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

bool listening_on_loopback(std::uint16_t port) {
    std::ifstream table("/proc/net/tcp");
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (local == wanted && state == "0A") return true;  // 0A: LISTEN
    }
    return false;
}

Ser2net::Ser2net(const std::string& device, Mode mode, const std::string& line_settings,
                 const Ser2netTuning& tuning) {
    port_ = free_loopback_port();
    const std::string accepter =
        (mode == Mode::rfc2217 ? "telnet(rfc2217),tcp,127.0.0.1," : "tcp,127.0.0.1,") +
        std::to_string(port_);
    config_path_ =
        (std::filesystem::temp_directory_path() /
         ("qk42rt-ser2net-" + std::to_string(getpid()) + "-" + std::to_string(port_) + ".yaml"))
            .string();
    {
        std::ofstream config(config_path_);
        config << "%YAML 1.1\n---\n"
               << "connection: &qk42\n"
               << "    accepter: " << accepter << "\n"
               << "    connector: serialdev," << device << "," << line_settings << ",local\n"
               << "    options:\n"
               << "      kickolduser: true\n";
        if (!tuning.char_delay) config << "      chardelay: false\n";
        if (!config) throw std::runtime_error("cannot write " + config_path_);
    }
    // -n: stay in the foreground; -c: this configuration only.
    process_ = std::make_unique<ChildProcess>(
        tuning.program,
        std::vector<std::string>{"-n", "-c", config_path_, "-P", config_path_ + ".pid"});
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!listening_on_loopback(port_)) {
        if (std::chrono::steady_clock::now() > until) {
            process_.reset();
            std::remove(config_path_.c_str());
            std::remove((config_path_ + ".pid").c_str());
            throw std::runtime_error("ser2net does not listen on port " + std::to_string(port_));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    url_ = (mode == Mode::rfc2217 ? "rfc2217://127.0.0.1:" : "tcp://127.0.0.1:") +
           std::to_string(port_);
}

Ser2net::~Ser2net() {
    process_.reset();  // kills it
    std::remove(config_path_.c_str());
    std::remove((config_path_ + ".pid").c_str());
}

}  // namespace qk42rt::testing
