#include "wire.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "protocol/request.h"
#include "protocol/text.h"
#include "qk42rt.h"
#include "support/port_map.h"

namespace qk42rt::bench {
namespace {

namespace op = protocol::op;

Operation operation(const protocol::Operation& operation, std::string host_name, bool (*legacy)(),
                    bool (*host)(qk42_line*)) {
    const auto bytes = protocol::encode({1, operation}).view();
    const protocol::CommandInfo command = protocol::command_of(operation);
    return {std::string(command.name),
            std::move(host_name),
            {bytes.begin(), bytes.end()},
            command.reply_length,
            legacy,
            host};
}

}  // namespace

const std::vector<Operation>& operations() {
    static const std::vector<Operation> all{
        operation(
            op::ReadFlow{1}, "qk42_read_flow",
            [] {
                float flow = 0.0f;
                int status = 0;
                return QK42RT_ReadFlow(1, 1, &flow, &status) == 1;
            },
            [](qk42_line* line) {
                float flow = 0.0f;
                int status = 0;
                return qk42_read_flow(line, 1, 1, &flow, &status) == QK42_OK;
            }),
        operation(
            op::SetSetpoint{1, 1.0f}, "qk42_set_setpoint",
            [] { return QK42RT_SetSetpoint(1, 1, 1.0f) == 1; },
            [](qk42_line* line) { return qk42_set_setpoint(line, 1, 1, 1.0f) == QK42_OK; }),
        operation(
            op::ReadVersion{}, "qk42_read_version",
            [] {
                float version = 0.0f;
                int kind = 0, info1 = 0, info2 = 0;
                return QK42RT_ReadVersion(1, &version, &kind, &info1, &info2) == 6;
            },
            [](qk42_line* line) {
                char text[4];
                float number = 0.0f;
                int kind = 0, info1 = 0, info2 = 0;
                return qk42_read_version(line, 1, text, &number, &kind, &info1, &info2) == QK42_OK;
            }),
    };
    return all;
}

std::string Operation::for_script() const {
    return protocol::hex_bytes(request, "") + " " + std::to_string(reply_length);
}

Qk42Line open_line(const std::string& device) {
    qk42_line* line = nullptr;
    if (qk42_open(device.c_str(), &line) != QK42_OK) {
        char reason[256] = "";
        qk42_last_error(nullptr, reason, sizeof reason);
        throw std::runtime_error("qk42_open " + device + ": " + reason);
    }
    return Qk42Line(line, qk42_close);
}

LegacyPort::LegacyPort(const std::string& device) {
    testing::map_port(testing::kTestPort, device);
    if (QK42RT_InitPort(testing::kTestPort) != 1) throw std::runtime_error("cannot open " + device);
}

LegacyPort::~LegacyPort() {
    QK42RT_ClosePort();
    testing::unmap_ports();
}

BareLine::BareLine(const std::string& device) {
    fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "open " + device);
    termios tio{};
    if (tcgetattr(fd_, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        cfsetspeed(&tio, B9600);
        tcsetattr(fd_, TCSANOW, &tio);
    }
}

BareLine::BareLine(int fd, bool telnet) : fd_(fd), socket_(true), telnet_(telnet) {
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

BareLine::~BareLine() {
    if (!socket_) ::close(fd_);
}

bool BareLine::exchange(const Operation& op) {
    std::array<std::uint8_t, 512> in{};
    if (!socket_) tcflush(fd_, TCIFLUSH);
    while (socket_ &&
           ::recv(fd_, in.data(), in.size(), MSG_DONTWAIT) == static_cast<ssize_t>(in.size())) {
    }
    const auto size = static_cast<ssize_t>(op.request.size());
    if ((socket_ ? ::send(fd_, op.request.data(), op.request.size(), MSG_NOSIGNAL)
                 : ::write(fd_, op.request.data(), op.request.size())) != size) {
        return false;
    }
    const double deadline = wall_us() + 500'000.0;
    std::size_t got = 0;
    bool after_iac = false;
    while (got < op.reply_length && wall_us() < deadline) {
        pollfd readable{fd_, POLLIN, 0};
        if (poll(&readable, 1, static_cast<int>((deadline - wall_us()) / 1e3) + 1) <= 0) continue;
        const std::size_t want = op.reply_length - got;
        const ssize_t n = socket_ ? ::recv(fd_, in.data() + got, want, MSG_DONTWAIT)
                                  : ::read(fd_, in.data() + got, want);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) break;
        const std::size_t end = got + static_cast<std::size_t>(n);
        for (std::size_t i = got; i < end; ++i) {  // keep one 0xFF of each doubled pair
            const bool second = telnet_ && after_iac && in[i] == 0xFF;
            after_iac = !second && in[i] == 0xFF;
            if (!second) in[got++] = in[i];
        }
    }
    return got == op.reply_length;
}

int connection_to_loopback_port(std::uint16_t port) {
    int found = -1;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0 ||
            peer.sin_family != AF_INET || ntohs(peer.sin_port) != port ||
            ntohl(peer.sin_addr.s_addr) != INADDR_LOOPBACK) {
            continue;
        }
        if (found >= 0) throw std::runtime_error("two connections to port " + std::to_string(port));
        found = fd;
    }
    if (found < 0) throw std::runtime_error("no connection to port " + std::to_string(port));
    return found;
}

Script start_script(const std::string& python, const std::string& kind, const std::string& device,
                    const std::vector<std::string>& env) {
    std::vector<std::string> words = env;
    words.insert(words.end(), {python, QK42RT_BENCH_SCRIPT, kind, device});
    try {
        auto child = std::make_unique<testing::ChildProcess>(
            "env", words, testing::ChildProcess::Pipes{.input = true, .capture_stderr = false});
        const auto answer = child->read_line(20'000);
        if (answer == "ready") return child;
        std::fprintf(stderr, "bench: the %s client said: %s\n", kind.c_str(),
                     answer.value_or("nothing").c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench: no %s client: %s\n", kind.c_str(), e.what());
    }
    return nullptr;
}

Turn script_turns(const Script& script, const std::string& words) {
    return [&script, words](int count, Samples& out) {
        if (!script) return;
        script->write_line("run " + std::to_string(count) + " " + words);
        std::istringstream answer(script->read_line(count * 600 + 30'000).value_or(""));
        std::string done;
        double cpu_ns = 0.0;
        std::size_t failures = 0;
        if (!(answer >> done >> cpu_ns >> failures) || done != "done") {
            throw std::runtime_error("a Python client did not answer run " + words);
        }
        out.cpu_us += cpu_ns / 1e3;
        out.failures += failures;
        for (double wall_ns = 0.0; answer >> wall_ns;) out.wall_us.push_back(wall_ns / 1e3);
    };
}

}  // namespace qk42rt::bench
