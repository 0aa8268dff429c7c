// Device strings as users type them: which line each names, and what a malformed one is told.
#include "port/device_string.h"

#include <gtest/gtest.h>

#include <variant>

#include "port/open_port.h"

namespace qk42rt {
namespace {

using Kind = DeviceString::Kind;

struct Good {
    const char* text;
    Kind kind;
    const char* path_or_host;
    std::uint16_t port;
};

TEST(DeviceString, NamesTheLine) {
    const Good cases[] = {
        {"/dev/ttyUSB0", Kind::path, "/dev/ttyUSB0", 0},
        {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", Kind::path,
         "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", 0},
        {"relative/tty", Kind::path, "relative/tty", 0},
        {"tcp://192.168.1.50:4001", Kind::tcp, "192.168.1.50", 4001},
        {"tcp://moxa-rack3.lab:950", Kind::tcp, "moxa-rack3.lab", 950},
        {"tcp://[::1]:2000", Kind::tcp, "::1", 2000},
        {"tcp://[fe80::1%eth0]:2000", Kind::tcp, "fe80::1%eth0", 2000},
        {"rfc2217://localhost:65535", Kind::rfc2217, "localhost", 65535},
        {"rfc2217://[2001:db8::7]:1", Kind::rfc2217, "2001:db8::7", 1},
    };
    for (const Good& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parse_device_string(c.text);
        ASSERT_TRUE(std::holds_alternative<DeviceString>(parsed))
            << std::get<DeviceStringError>(parsed).message;
        const auto& device = std::get<DeviceString>(parsed);
        EXPECT_EQ(device.kind, c.kind);
        EXPECT_EQ(c.kind == Kind::path ? device.path : device.host, c.path_or_host);
        EXPECT_EQ(device.port, c.port);
    }
}

struct Bad {
    const char* text;
    const char* says;  // part of the message
};

TEST(DeviceString, RefusesMalformedStringsSayingWhatWasExpected) {
    const Bad cases[] = {
        {"", "expected a device path"},
        {"tcp://", "no port"},
        {"tcp://host", "no port"},
        {"tcp://host:", "'' is no port"},
        {"tcp://:4001", "no host"},
        {"tcp://host:0", "'0' is no port"},
        {"tcp://host:65536", "'65536' is no port"},
        {"tcp://host:40x1", "'40x1' is no port"},
        {"tcp://host:-1", "is no port"},
        {"tcp://::1:4001", "put an IPv6 address in brackets"},
        {"tcp://[::1]4001", "no port"},
        {"tcp://[::1:4001", "no ']'"},
        {"tcp://[host]:4001", "is no IPv6 address"},
        {"tcp://ho st:4001", "expected HOST:PORT"},
        {"tcp://host/path:4001", "expected HOST:PORT"},
        {"udp://host:4001", "expected a device path, tcp://HOST:PORT or rfc2217://HOST:PORT"},
        {"TCP://host:4001", "expected a device path, tcp://HOST:PORT or rfc2217://HOST:PORT"},
        {"rfc2217://host", "no port"},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parse_device_string(c.text);
        ASSERT_TRUE(std::holds_alternative<DeviceStringError>(parsed));
        const std::string& message = std::get<DeviceStringError>(parsed).message;
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        EXPECT_EQ(message.rfind("bad device \"" + std::string(c.text) + "\"", 0), 0u) << message;
    }
}

TEST(DeviceString, ListenersMayAskForAnyFreePort) {
    EXPECT_TRUE(std::holds_alternative<HostPort>(parse_host_port("127.0.0.1:0", true)));
    EXPECT_TRUE(std::holds_alternative<DeviceStringError>(parse_host_port("127.0.0.1:0")));
    EXPECT_EQ(host_port_text("::1", 80), "[::1]:80");
    EXPECT_EQ(host_port_text("10.0.0.1", 80), "10.0.0.1:80");
}

TEST(DeviceString, AMalformedStringOpensNothing) {
    const OpenResult opened = open_device("tcp://host");
    EXPECT_EQ(opened.status, OpenStatus::bad_device);
    EXPECT_EQ(opened.port, nullptr);
    EXPECT_NE(opened.reason.find("no port"), std::string::npos);
}

}  // namespace
}  // namespace qk42rt
