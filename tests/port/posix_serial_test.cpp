// The POSIX serial port on a real pseudo-terminal, with the test writing on the master.
#include "port/posix_serial.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <thread>

#include "port/open_port.h"
#include "support/pty_peer.h"

namespace qk42rt {
namespace {

using namespace std::chrono;
using testing::Bytes;
using testing::Chunk;
using testing::hex;

// A pty whose master the test drives directly: nothing answers by itself.
struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        grantpt(master);
        unlockpt(master);
        slave = ptsname(master);
    }
    ~Pty() {
        if (master >= 0) close(master);
    }
    void send(const Bytes& bytes) const {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    Bytes receive(std::size_t n) const {
        Bytes bytes(n);
        std::size_t got = 0;
        while (got < n) {
            const ssize_t r = read(master, bytes.data() + got, n - got);
            if (r <= 0) break;
            got += std::size_t(r);
        }
        bytes.resize(got);
        return bytes;
    }
};

std::unique_ptr<Port> open_ok(const std::string& device) {
    OpenResult opened = open_serial_device(device);
    EXPECT_EQ(opened.status, OpenStatus::opened);
    return std::move(opened.port);
}

int open_descriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
    return count;
}

double read_ms(Port& port, std::size_t n, std::size_t* got) {
    Bytes buffer(n);
    const auto start = steady_clock::now();
    *got = port.read(buffer, kReplyTimeout);
    return duration<double, std::milli>(steady_clock::now() - start).count();
}

TEST(PosixSerial, DeviceNameForPortNumber) {
    EXPECT_EQ(device_for_port(1), "/nonexistent/qk42rt-test-port");  // test programs map numbers
    const std::pair<int, const char*> names[] = {{1, "/dev/ttyS0"},
                                                 {4, "/dev/ttyS3"},
                                                 {0, "/dev/ttyS-1"},
                                                 {-1, "/dev/ttyS-2"},
                                                 {INT_MIN, "/dev/ttyS-2147483649"},
                                                 {INT_MAX, "/dev/ttyS2147483646"}};
    for (const auto& [port, name] : names) EXPECT_EQ(posix_device_name(port), name);
}

TEST(PosixSerial, AppliesRawLineSettingsAt9600) {
    Pty pty;
    auto port = open_ok(pty.slave);
    termios tio{};
    ASSERT_EQ(tcgetattr(static_cast<PosixSerial&>(*port).fd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_EQ(cfgetispeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_FALSE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS));
    EXPECT_TRUE(tio.c_cflag & CREAD);
    EXPECT_TRUE(tio.c_cflag & CLOCAL);
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP));
    EXPECT_FALSE(tio.c_oflag & OPOST);
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
    EXPECT_EQ(tio.c_cc[VMIN], 1);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
}

TEST(PosixSerial, BytesThatTerminalsLikeToTouchPassUnchanged) {
    Pty pty;
    auto port = open_ok(pty.slave);
    const Bytes special = {0x11, 0x13, 0x0D, 0x0A, 0xFF, 0x00, 0x03, 0x7F, 0x1A, 0x04};
    port->write(special);
    EXPECT_EQ(hex(pty.receive(special.size())), hex(special));
    pty.send(special);
    Bytes got(special.size());
    EXPECT_EQ(port->read(got, kReplyTimeout), special.size());
    EXPECT_EQ(hex(got), hex(special));
}

TEST(PosixSerial, WriteWaitsForTheLineToTakeMoreAndSendsEverythingInOrder) {
    Pty pty;
    auto port = open_ok(pty.slave);
    Bytes block(256 * 1024);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    Bytes received;
    std::thread reader([&] {
        // Far more than the terminal buffers hold: the writer must meet a full line.
        std::this_thread::sleep_for(50ms);
        std::uint8_t piece[4096];
        pollfd readable{pty.master, POLLIN, 0};
        while (received.size() < block.size() && poll(&readable, 1, 2000) > 0) {
            const ssize_t n = read(pty.master, piece, sizeof piece);
            if (n <= 0) break;
            received.insert(received.end(), piece, piece + n);
        }
    });
    port->write(block);
    reader.join();
    ASSERT_EQ(received.size(), block.size());
    EXPECT_TRUE(received == block);
}

TEST(PosixSerial, SecondOpenerIsRefusedUntilTheFirstCloses) {
    Pty pty;
    auto first = open_ok(pty.slave);
    const int before = open_descriptors();
    EXPECT_EQ(open_serial_device(pty.slave).status, OpenStatus::cannot_open);
    EXPECT_EQ(open_descriptors(), before) << "a refused open leaked its descriptor";
    first.reset();
    EXPECT_EQ(open_serial_device(pty.slave).status, OpenStatus::opened);
}

TEST(PosixSerial, CloseClearsTheTtyExclusiveFlag) {
    Pty pty;
    open_ok(pty.slave).reset();
    const int fd = open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    int exclusive = -1;
    ASSERT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(fd);
}

TEST(PosixSerial, MissingDeviceAndNonTerminal) {
    EXPECT_EQ(open_serial_device("/nonexistent/ttyS9").status, OpenStatus::cannot_open);
    const int before = open_descriptors();
    EXPECT_EQ(open_serial_device("/dev/null").status, OpenStatus::settings_refused);
    EXPECT_EQ(open_descriptors(), before);
}

TEST(PosixSerial, LowLatencyRefusedWithoutASerialDriverAndTheOpenGoesOn) {
    Pty pty;
    int pipe_ends[2] = {-1, -1};
    ASSERT_EQ(pipe(pipe_ends), 0);
    const int slave = open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    const std::pair<const char*, int> refusers[] = {
        {"pseudo-terminal", slave}, {"pipe", pipe_ends[0]}, {"closed descriptor", -1}};
    for (const auto& [what, fd] : refusers) EXPECT_FALSE(request_low_latency(fd)) << what;
    close(slave);
    close(pipe_ends[0]);
    close(pipe_ends[1]);

    // The open asks too, is refused in the same way, and the line works as ever.
    auto port = open_ok(pty.slave);
    ASSERT_TRUE(port);
    const Bytes request = {0x83, 0x01};
    port->write(request);
    EXPECT_EQ(hex(pty.receive(request.size())), hex(request));
    const Bytes reply = {0x01, 0x00, 0x00, 0x48, 0x42};
    pty.send(reply);
    Bytes got(reply.size());
    EXPECT_EQ(port->read(got, kReplyTimeout), reply.size());
    EXPECT_EQ(hex(got), hex(reply));
}

TEST(PosixSerial, ReadReturnsAsSoonAsAllBytesArrive) {
    Pty pty;
    auto port = open_ok(pty.slave);
    pty.send({1, 2, 3, 4, 5});
    std::size_t got = 0;
    EXPECT_LT(read_ms(*port, 5, &got), 100.0);
    EXPECT_EQ(got, 5u);
}

TEST(PosixSerial, PiecesWithinTheLimitMakeOneReply) {
    Pty pty;
    auto port = open_ok(pty.slave);
    std::thread sender([&] {
        pty.send({1, 2});
        std::this_thread::sleep_for(150ms);
        pty.send({3});
        std::this_thread::sleep_for(150ms);
        pty.send({4, 5});
    });
    std::size_t got = 0;
    const double ms = read_ms(*port, 5, &got);
    sender.join();
    EXPECT_EQ(got, 5u);
    EXPECT_GE(ms, 290.0);
    EXPECT_LT(ms, 450.0);
}

TEST(PosixSerial, SilenceEndsTheReadAt500msNeverBefore) {
    Pty pty;
    auto port = open_ok(pty.slave);
    for (int i = 0; i < 3; ++i) {
        std::size_t got = 0;
        const double ms = read_ms(*port, 5, &got);
        EXPECT_EQ(got, 0u);
        EXPECT_GE(ms, 500.0);
        EXPECT_LT(ms, 560.0);
    }
    pty.send({9, 9});
    std::size_t got = 0;
    const double ms = read_ms(*port, 5, &got);
    EXPECT_EQ(got, 2u);
    EXPECT_GE(ms, 500.0);
}

TEST(PosixSerial, HangUpEndsTheReadAtOnceWithWhatArrived) {
    Pty pty;
    auto port = open_ok(pty.slave);
    std::thread closer([&] {
        pty.send({7, 8});
        std::this_thread::sleep_for(50ms);
        close(pty.master);
        pty.master = -1;
    });
    std::size_t got = 0;
    const double ms = read_ms(*port, 5, &got);
    closer.join();
    EXPECT_LE(got, 2u);
    EXPECT_LT(ms, 200.0);
    // Later reads on the dead line return at once too.
    EXPECT_LT(read_ms(*port, 5, &got), 50.0);
    EXPECT_EQ(got, 0u);
}

TEST(PosixSerial, ClearDiscardsOnlyWhatIsPending) {
    Pty pty;
    auto port = open_ok(pty.slave);
    pty.send({0x55, 0x55, 0x55});
    std::this_thread::sleep_for(20ms);
    port->clear_input();
    pty.send({0x0E});
    Bytes one(1);
    EXPECT_EQ(port->read(one, kReplyTimeout), 1u);
    EXPECT_EQ(one[0], 0x0E);
}

TEST(PosixSerial, WorksOnADescriptorAbove1024) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < 2048) {
        limit.rlim_cur = std::min<rlim_t>(2048, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur < 2048) GTEST_SKIP() << "cannot raise the descriptor limit";
    Pty pty;
    OpenResult opened = open_serial_device(pty.slave);
    ASSERT_EQ(opened.status, OpenStatus::opened);
    const int high = fcntl(static_cast<PosixSerial&>(*opened.port).fd(), F_DUPFD_CLOEXEC, 1500);
    ASSERT_GE(high, 1500);
    PosixSerial port(high);
    pty.send({1, 2, 3});
    Bytes buffer(3);
    EXPECT_EQ(port.read(buffer, kReplyTimeout), 3u);
    std::size_t got = 0;
    const double ms = read_ms(port, 1, &got);
    EXPECT_GE(ms, 500.0);
    EXPECT_LT(ms, 560.0);
}

}  // namespace
}  // namespace qk42rt
