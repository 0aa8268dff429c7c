// Which serial ports `qk42rt ports` shows and how, and how `qk42rt scan` reports what it
// heard: with made-up ports, replies, sysfs trees and Windows device ids, no line needed.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "cli.h"
#include "scan_report.h"
#include "serial_ports.h"

namespace qk42rt::cli {
namespace {

SerialPort ftdi_adapter() {
    SerialPort port;
    port.device = "/dev/ttyUSB0";
    port.by_id = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    port.by_path = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0";
    port.driver = "ftdi_sio";
    port.usb_vid = "0403";
    port.usb_pid = "6001";
    port.serial_number = "A50285BI";
    port.manufacturer = "FTDI";
    port.product = "FT232R USB UART";
    return port;
}

SerialPort cdc_acm_adapter() {
    SerialPort port;
    port.device = "/dev/ttyACM0";
    port.driver = "cdc_acm";
    port.usb_vid = "2341";
    port.usb_pid = "0043";
    port.manufacturer = "Arduino \"LLC\"";  // quotes must survive JSON
    return port;
}

SerialPort legacy_port(std::string device, std::string driver, int uart_type) {
    SerialPort port;
    port.device = std::move(device);
    port.driver = std::move(driver);
    port.uart_type = uart_type;
    return port;
}

SerialPort bare_port(std::string device) {
    SerialPort port;
    port.device = std::move(device);
    return port;
}

SerialPort with_latency(SerialPort port, int ms) {
    port.latency_timer_ms = ms;
    return port;
}

std::vector<std::string> devices_of(const std::vector<SerialPort>& ports) {
    std::vector<std::string> devices;
    for (const SerialPort& port : ports) devices.push_back(port.device);
    return devices;
}

TEST(PortsReport, UnusedLegacyPortsOnlyWithAllAndOrderedAsPeopleCount) {
    const std::vector<SerialPort> found = {
        ftdi_adapter(),
        legacy_port("/dev/ttyS10", "serial8250", 4),
        legacy_port("/dev/ttyS3", "serial8250", 0),  // no UART behind it
        cdc_acm_adapter(),
        legacy_port("/dev/ttyS0", "serial", 4),  // a real 16550A on the PnP bus
    };
    struct Case {
        bool all;
        std::vector<std::string> shown;
    } cases[] = {
        {false, {"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS10", "/dev/ttyUSB0"}},
        {true, {"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS3", "/dev/ttyS10", "/dev/ttyUSB0"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(devices_of(ports_to_show(found, c.all)), c.shown) << "all: " << c.all;
    }
    // Ports outside the serial core have no UART type and are never taken for unused ones.
    EXPECT_FALSE(is_unused_legacy_port(ftdi_adapter()));
    EXPECT_TRUE(ports_to_show({}, false).empty());
}

TEST(PortsReport, JsonHasTheElevenKeysWithNullWhereUnknown) {
    SerialPort slow_ftdi = ftdi_adapter();
    slow_ftdi.latency_timer_ms = 16;
    SerialPort fast_ftdi = ftdi_adapter();
    fast_ftdi.latency_timer_ms = 1;
    const std::string ftdi_fields =
        R"({"device":"/dev/ttyUSB0",)"
        R"("by_id":"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",)"
        R"("by_path":"/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0",)"
        R"("driver":"ftdi_sio","usb_vid":"0403","usb_pid":"6001","serial_number":"A50285BI",)"
        R"("manufacturer":"FTDI","product":"FT232R USB UART",)";
    struct Case {
        SerialPort port;
        std::string json;
    } cases[] = {
        {slow_ftdi, ftdi_fields + R"("latency_timer_ms":16,"latency_high":true})"},
        {fast_ftdi, ftdi_fields + R"("latency_timer_ms":1,"latency_high":false})"},
        {ftdi_adapter(), ftdi_fields + R"("latency_timer_ms":null,"latency_high":null})"},
        {cdc_acm_adapter(),
         R"({"device":"/dev/ttyACM0","by_id":null,"by_path":null,"driver":"cdc_acm",)"
         R"("usb_vid":"2341","usb_pid":"0043","serial_number":null,)"
         R"("manufacturer":"Arduino \"LLC\"","product":null,"latency_timer_ms":null,)"
         R"("latency_high":null})"},
        {legacy_port("/dev/ttyS0", "serial", 4),
         R"({"device":"/dev/ttyS0","by_id":null,"by_path":null,"driver":"serial",)"
         R"("usb_vid":null,"usb_pid":null,"serial_number":null,"manufacturer":null,)"
         R"("product":null,"latency_timer_ms":null,"latency_high":null})"},
        {bare_port("/dev/ttyX"),
         R"({"device":"/dev/ttyX","by_id":null,"by_path":null,"driver":null,)"
         R"("usb_vid":null,"usb_pid":null,"serial_number":null,"manufacturer":null,)"
         R"("product":null,"latency_timer_ms":null,"latency_high":null})"},
    };
    for (const Case& c : cases) EXPECT_EQ(json_object(port_record(c.port)), c.json);
}

TEST(PortsReport, TableRowsFillEveryColumnAndMarkUnusedPorts) {
    struct Case {
        SerialPort port;
        std::vector<std::string> row;
    } cases[] = {
        {ftdi_adapter(),
         {"/dev/ttyUSB0", "ftdi_sio", "0403:6001", "A50285BI", "FTDI", "FT232R USB UART", "-",
          "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
          "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"}},
        {with_latency(ftdi_adapter(), 16),
         {"/dev/ttyUSB0", "ftdi_sio", "0403:6001", "A50285BI", "FTDI", "FT232R USB UART",
          "16 ms (high)", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
          "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"}},
        {with_latency(bare_port("/dev/ttyUSB1"), 1),
         {"/dev/ttyUSB1", "-", "-", "-", "-", "-", "1 ms", "-", "-"}},
        {legacy_port("/dev/ttyS0", "serial", 4),
         {"/dev/ttyS0", "serial", "-", "-", "-", "-", "-", "-", "-"}},
        {legacy_port("/dev/ttyS3", "serial8250", 0),
         {"/dev/ttyS3", "serial8250 (no UART)", "-", "-", "-", "-", "-", "-", "-"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(port_row(c.port), c.row);
        EXPECT_EQ(port_row(c.port).size(), ports_table_header().size());
    }
}

// A sysfs tree of the test's own: bus/usb-serial/devices/<tty>/latency_timer as the files
// hold them, or a tty folder without the file (a usb-serial driver that has no such timer).
class SysfsTree {
  public:
    SysfsTree() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "qk42rt-sysfs-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
    }
    ~SysfsTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    SysfsTree(const SysfsTree&) = delete;
    SysfsTree& operator=(const SysfsTree&) = delete;

    void add(const std::string& tty, const std::optional<std::string>& latency_timer) {
        const std::filesystem::path folder = root_ / "bus/usb-serial/devices" / tty;
        std::filesystem::create_directories(folder);
        if (latency_timer) std::ofstream(folder / "latency_timer") << *latency_timer;
    }
    const std::filesystem::path& root() const { return root_; }

  private:
    std::filesystem::path root_;
};

TEST(PortsReport, LatencyTimerReadFromSysfs) {
    SysfsTree sysfs;
    ASSERT_FALSE(sysfs.root().empty());
    const std::tuple<std::string, std::optional<std::string>, std::optional<int>> cases[] = {
        {"ttyUSB0", "16\n", 16},
        {"ttyUSB1", "1\n", 1},
        {"ttyUSB2", "0", 0},
        {"ttyUSB3", " 255 \n", 255},
        {"ttyUSB4", std::nullopt, std::nullopt},  // the driver has no latency timer
        {"ttyUSB5", "", std::nullopt},
        {"ttyUSB6", "16 ms\n", std::nullopt},
        {"ttyUSB7", "-1\n", std::nullopt},
        {"ttyUSB8", "99999999999999999999\n", std::nullopt},
        {"ttyUSB9", std::string(100, '1'), std::nullopt},
    };
    for (const auto& [tty, file, ms] : cases) sysfs.add(tty, file);
    for (const auto& [tty, file, ms] : cases) {
        EXPECT_EQ(read_latency_timer(sysfs.root(), tty), ms) << tty;
    }
    // No such tty, and names that would leave the devices folder.
    sysfs.add("ttyUSB0/..", "16");
    for (const char* name : {"ttyACM0", "", ".", "..", "../devices/ttyUSB0", "ttyUSB0/.."}) {
        EXPECT_EQ(read_latency_timer(sysfs.root(), name), std::nullopt) << name;
    }
    EXPECT_EQ(read_latency_timer(sysfs.root() / "missing", "ttyUSB0"), std::nullopt);
}

TEST(PortsReport, LatencyAbove1msIsFlaggedWithANote) {
    const std::pair<std::optional<int>, bool> cases[] = {
        {std::nullopt, false}, {0, false}, {1, false}, {2, true}, {16, true}, {255, true},
    };
    for (const auto& [ms, high] : cases) {
        SerialPort port = ftdi_adapter();
        port.latency_timer_ms = ms;
        EXPECT_EQ(latency_is_high(port), high) << ms.value_or(-1);
        EXPECT_EQ(latency_note(port).has_value(), high) << ms.value_or(-1);
    }
    const std::optional<std::string> note = latency_note(with_latency(ftdi_adapter(), 16));
    ASSERT_TRUE(note);
    EXPECT_EQ(note->rfind("note: /dev/ttyUSB0 ", 0), 0u) << *note;
    EXPECT_NE(note->find("16 ms"), std::string::npos) << *note;
    EXPECT_EQ(note->find('\n'), std::string::npos) << *note;
}

TEST(PortsReport, WindowsInstanceIdsGiveUsbDetails) {
    struct Case {
        const char* id;
        std::optional<std::string> vid, pid, serial;
    } cases[] = {
        {R"(USB\VID_0403&PID_6001\A50285BI)", "0403", "6001", "A50285BI"},
        {R"(usb\vid_10C4&pid_EA60\0001)", "10c4", "ea60", "0001"},
        // The FTDI driver's own bus: the serial number with the chip's port letter appended.
        {R"(FTDIBUS\VID_0403+PID_6001+A50285BIA\0000)", "0403", "6001", "A50285BI"},
        {R"(FTDIBUS\VID_0403+PID_6011+FT4XYZB\0000)", "0403", "6011", "FT4XYZ"},
        {R"(FTDIBUS\VID_0403+PID_6001\0000)", "0403", "6001", std::nullopt},
        // No serial number of its own: Windows makes up the last part.
        {R"(USB\VID_1A86&PID_7523\5&2A2B3C&0&2)", "1a86", "7523", std::nullopt},
        // One interface of a composite device.
        {R"(USB\VID_2341&PID_8036&MI_00\6&1234ABCD&0&0000)", "2341", "8036", std::nullopt},
        {R"(USB\VID_303A&PID_1001&MI_00\SERIAL1)", "303a", "1001", std::nullopt},
        {R"(USB\VID_0403&PID_6001\)", "0403", "6001", std::nullopt},
        {R"(USB\VID_04G3&PID_6001\X1)", std::nullopt, "6001", "X1"},
        // Not USB at all.
        {R"(ACPI\PNP0501\1)", std::nullopt, std::nullopt, std::nullopt},
        {R"(BTHENUM\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\7&1&0&000000000000_0)",
         std::nullopt, std::nullopt, std::nullopt},
        {R"(USBX\VID_0403&PID_6001\A1)", std::nullopt, std::nullopt, std::nullopt},
        {R"(USB\VID_0403&PID_6001)", std::nullopt, std::nullopt, std::nullopt},
        {R"(USB\VID_0403&PID_6001\A1\B2)", std::nullopt, std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        const InstanceIdDetails got = parse_instance_id(c.id);
        EXPECT_EQ(got.usb_vid, c.vid) << c.id;
        EXPECT_EQ(got.usb_pid, c.pid) << c.id;
        EXPECT_EQ(got.serial_number, c.serial) << c.id;
    }
}

TEST(PortsReport, ComPortsInTheOrderPeopleCount) {
    const std::vector<SerialPort> found = {bare_port("COM10"), bare_port("COM2"),
                                           bare_port("COM57"), bare_port("COM1")};
    EXPECT_EQ(devices_of(ports_to_show(found, false)),
              (std::vector<std::string>{"COM1", "COM2", "COM10", "COM57"}));
}

TEST(PortsReport, LinksMatchTheirDeviceByRealPath) {
    const std::vector<DeviceLink> links = {
        {"/dev/serial/by-id/usb-A-if00-port0", "/dev/ttyUSB1"},
        {"/dev/serial/by-id/usb-B-if00-port0", "/dev/ttyUSB0"},
        {"/dev/serial/by-id/usb-B-if01-port0", "/dev/ttyUSB0"},
    };
    EXPECT_EQ(first_link_to(links, "/dev/ttyUSB0"), "/dev/serial/by-id/usb-B-if00-port0");
    EXPECT_EQ(first_link_to(links, "/dev/ttyUSB1"), "/dev/serial/by-id/usb-A-if00-port0");
    EXPECT_EQ(first_link_to(links, "/dev/ttyUSB10"), std::nullopt);
    EXPECT_EQ(first_link_to({}, "/dev/ttyUSB0"), std::nullopt);
}

TEST(PortsReport, UsbIdsAreFourLowerCaseHexDigits) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"0403", "0403"},   {"0403\n", "0403"},   {"ABcd", "abcd"},        {"43", "0043"},
        {"", std::nullopt}, {"\n", std::nullopt}, {"12345", std::nullopt}, {"04g3", std::nullopt},
    };
    for (const auto& [text, id] : cases) EXPECT_EQ(usb_id(text), id) << text;
}

TEST(PortsReport, AllBelongsToPortsAndPortsNeedsNoDevice) {
    const Plan ports = make_plan({"ports", "--all", "--json"});
    EXPECT_TRUE(ports.line.all);
    EXPECT_TRUE(ports.prepared.standalone);
    EXPECT_EQ(ports.device, "");
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--device", "/d", "flow", "1", "--all"}, "--all belongs to the ports command"},
        {{"--device", "/d", "--all", "scan"}, "--all belongs to the ports command"},
        {{"ports", "--all=yes"}, "takes no value"},
        {{"ports", "1"}, "wrong number of arguments"},
        {{"scan"}, "--device PATH or --port N"},
        {{"--device", "/d", "scan", "2"}, "wrong number of arguments"},
    };
    for (const auto& [argv, message] : refused) {
        try {
            make_plan(argv);
            ADD_FAILURE() << "accepted: " << message;
        } catch (const UsageError& error) {
            EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
        }
    }
    // scan goes through every address itself: --address is accepted and has no say.
    EXPECT_EQ(make_plan({"--device", "/d", "--address", "5", "scan"}).device, "/d");
}

TEST(ScanReport, WhatAFailedVersionRequestSaysAboutTheAddress) {
    const std::pair<Failure, Heard> cases[] = {
        {Failure::no_reply, Heard::silent},          {Failure::short_reply, Heard::not_instrument},
        {Failure::wrong_ack, Heard::not_instrument}, {Failure::unknown_kind, Heard::not_instrument},
        {Failure::no_port, Heard::line_failed},
    };
    for (const auto& [why, heard] : cases) {
        Error error;
        error.why = why;
        EXPECT_EQ(judge(error), heard) << static_cast<int>(why);
    }
}

TEST(ScanReport, VersionTextIsShownAsSentUpToANul) {
    const std::pair<std::array<char, 3>, const char*> cases[] = {
        {{'1', '.', '2'}, "1.2"},        {{'1', '2', '\0'}, "12"},
        {{'\0', '1', '2'}, ""},          {{'v', ' ', '3'}, "v 3"},
        {{'1', '\x01', 'x'}, "1\\x01x"}, {{'\xFF', 'a', '\x7F'}, "\\xFFa\\x7F"},
    };
    for (const auto& [text, shown] : cases) EXPECT_EQ(shown_version_text(text), shown);
}

TEST(ScanReport, AnswersAsJsonAndTableRows) {
    ScanAnswer answer;
    answer.address = 3;
    answer.version.text = {'1', '.', '2'};
    answer.version.kind = 1;
    answer.version.info1 = 8;
    answer.version.info2 = 1;
    EXPECT_EQ(json_object(answer_record(answer)),
              R"({"address":3,"version":"1.2","kind":"C","info1":8,"info2":1})");
    EXPECT_EQ(answer_row(answer), (std::vector<std::string>{"3", "1.2", "C", "8", "1"}));
    answer.version.kind = 0;
    answer.version.text = {'2', '\x80', '\0'};
    EXPECT_EQ(json_object(answer_record(answer)),
              R"({"address":3,"version":"2\\x80","kind":"M","info1":8,"info2":1})");
    EXPECT_EQ(answer_row(answer).size(), scan_table_header().size());
}

}  // namespace
}  // namespace qk42rt::cli
