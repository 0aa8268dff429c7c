// Debian's ser2net in RFC 2217 mode between the library and the simulator's pseudo-terminal:
// the settings the library asks for are the ones ser2net reports and puts on the device,
// even where ser2net's own configuration says otherwise.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "commands/commands.h"
#include "port/rfc2217_line.h"
#include "sim_fixture.h"

namespace qk42rt::sim {
namespace {

TEST(Ser2netRfc2217, ReportsAndAppliesTheLibrarysSerialSettings) {
    Simulator simulator(test_options());
    // ser2net opens the device at 4800 baud, 7 data bits, even parity, 1 stop bit; only the
    // library's negotiation brings it to 9600 8N1.
    testing::Ser2net ser2net(simulator.slave_path(), testing::Ser2net::Mode::rfc2217, "4800e71");
    OpenResult opened = open_device(ser2net.url());
    ASSERT_EQ(opened.status, OpenStatus::opened) << opened.reason;

    const ServerSettings& reported = static_cast<Rfc2217Line&>(*opened.port).server_settings();
    EXPECT_EQ(reported.baud_rate, 9600u);
    EXPECT_EQ(reported.data_size, 8);
    EXPECT_EQ(reported.parity, com_port::kParityNone);
    EXPECT_EQ(reported.stop_size, com_port::kOneStopBit);
    EXPECT_EQ(reported.flow_control_out, com_port::kNoFlowControlOut);
    EXPECT_EQ(reported.flow_control_in, com_port::kNoFlowControlIn);

    // The device's own settings, read from a second descriptor on the pseudo-terminal.
    const int fd = ::open(simulator.slave_path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    ::close(fd);
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & PARENB, 0u);
    EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);

    protocol::Line line(opened.port.get());
    const auto version = commands::read_version(line, 1);
    ASSERT_TRUE(version.ok()) << describe(version.error());
}

}  // namespace
}  // namespace qk42rt::sim
