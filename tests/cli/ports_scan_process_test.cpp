// `qk42rt scan` run as a process against the simulated instrument, and `qk42rt ports` against
// this machine's own serial ports (listed through sysfs and udev; none is opened).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "json_check.h"
#include "simulator.h"
#include "support/child_process.h"

namespace qk42rt::testing {
namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

const std::string kClient = QK42RT_CLIENT_PATH;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::vector<std::string>> table_of(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream cells(line);
        rows.emplace_back();
        for (std::string cell; cells >> cell;) rows.back().push_back(cell);
    }
    return rows;
}

// A JSON list of flat objects whose values are strings, whole numbers, truth values or null, as
// `ports --json` prints it: each object's keys in order, with their values as text (empty for
// null). Empty when the text is anything else.
using FlatObject = std::vector<std::pair<std::string, std::optional<std::string>>>;

class FlatListReader {
  public:
    explicit FlatListReader(std::string_view text) : text_(text) {}

    std::optional<std::vector<FlatObject>> read() {
        std::vector<FlatObject> objects;
        if (!take('[')) return std::nullopt;
        if (take(']')) return objects;
        do {
            std::optional<FlatObject> object = read_object();
            if (!object) return std::nullopt;
            objects.push_back(std::move(*object));
        } while (take(','));
        if (!take(']')) return std::nullopt;
        skip_space();
        if (at_ != text_.size()) return std::nullopt;
        return objects;
    }

  private:
    void skip_space() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
    }
    bool take(char c) {
        skip_space();
        if (at_ < text_.size() && text_[at_] == c) return ++at_, true;
        return false;
    }
    std::optional<FlatObject> read_object() {
        FlatObject object;
        if (!take('{')) return std::nullopt;
        if (take('}')) return object;
        do {
            std::optional<std::string> key = read_string();
            if (!key || !take(':')) return std::nullopt;
            skip_space();
            if (text_.substr(at_, 4) == "null") {
                at_ += 4;
                object.emplace_back(*key, std::nullopt);
                continue;
            }
            if (std::optional<std::string> bare = read_bare_value()) {
                object.emplace_back(*key, *bare);
                continue;
            }
            std::optional<std::string> value = read_string();
            if (!value) return std::nullopt;
            object.emplace_back(*key, *value);
        } while (take(','));
        if (!take('}')) return std::nullopt;
        return object;
    }
    // true, false, or a whole number, as its text.
    std::optional<std::string> read_bare_value() {
        for (const char* word : {"true", "false"}) {
            if (text_.substr(at_, std::strlen(word)) == word) {
                at_ += std::strlen(word);
                return word;
            }
        }
        std::size_t end = at_;
        while (end < text_.size() && std::isdigit(static_cast<unsigned char>(text_[end]))) ++end;
        if (end == at_) return std::nullopt;
        std::string digits(text_.substr(at_, end - at_));
        at_ = end;
        return digits;
    }
    // Strings as the client writes them: \" and \\ escaped, control characters as \u00XX.
    std::optional<std::string> read_string() {
        if (!take('"')) return std::nullopt;
        std::string text;
        while (at_ < text_.size() && text_[at_] != '"') {
            if (text_[at_] != '\\') {
                text += text_[at_++];
                continue;
            }
            if (++at_ >= text_.size()) return std::nullopt;
            const char escaped = text_[at_++];
            if (escaped == 'u') {
                if (at_ + 4 > text_.size()) return std::nullopt;
                text +=
                    static_cast<char>(std::stoi(std::string(text_.substr(at_, 4)), nullptr, 16));
                at_ += 4;
            } else {
                text += escaped;
            }
        }
        if (at_ >= text_.size()) return std::nullopt;
        ++at_;
        return text;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

class ScanAgainstSim : public ::testing::Test {
  protected:
    struct Timed {
        Finished done;
        long long elapsed_ms;
    };
    Timed scan(Words args) {
        args.insert(args.begin(), {"--device", sim_.slave_path(), "scan"});
        const auto start = std::chrono::steady_clock::now();
        Finished done = run_client(kClient, args);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        return {done, std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()};
    }

    sim::Simulator sim_{[] {
        sim::Options options;
        options.addresses = {1, 3};
        return options;
    }()};
};

// Six silent addresses cost their 500 ms reply time-out each.
constexpr long long kSixTimeOutsMs = 6 * 500;
constexpr long long kGenerousMs = 8000;

TEST_F(ScanAgainstSim, FindsTheAnsweringAddressesAndWaitsOutTheSilentOnes) {
    const Timed text = scan({});
    EXPECT_EQ(text.done.exit_code, 0) << text.done.err;
    EXPECT_EQ(table_of(text.done.out), (std::vector<std::vector<std::string>>{
                                           {"address", "version", "kind", "info1", "info2"},
                                           {"1", "1.2", "C", "8", "1"},
                                           {"3", "1.2", "C", "8", "1"}}))
        << text.done.out;
    EXPECT_TRUE(contains(text.done.err,
                         "qk42rt: asking addresses 1 to 8 on " + sim_.slave_path() + " (up to 4 s"))
        << text.done.err;
    EXPECT_GE(text.elapsed_ms, kSixTimeOutsMs);
    EXPECT_LT(text.elapsed_ms, kGenerousMs);

    // --address has no say: every address is asked.
    const Timed json = scan({"--json", "--address", "2"});
    EXPECT_EQ(json.done.exit_code, 0) << json.done.err;
    EXPECT_EQ(json.done.out, R"([{"address":1,"version":"1.2","kind":"C","info1":8,"info2":1},)"
                             R"({"address":3,"version":"1.2","kind":"C","info1":8,"info2":1}])"
                             "\n");
    EXPECT_TRUE(is_json(json.done.out));
    EXPECT_GE(json.elapsed_ms, kSixTimeOutsMs);
    EXPECT_LT(json.elapsed_ms, kGenerousMs);
    EXPECT_EQ(sim_.counters().requests, 16u);
}

TEST_F(ScanAgainstSim, AnAddressAnsweringWronglyIsReportedNotListed) {
    sim_.update(3, [](sim::InstrumentState& state) { state.kind = 'X'; });
    const Timed done = scan({"--json"});
    EXPECT_EQ(done.done.exit_code, 0) << done.done.err;
    EXPECT_EQ(done.done.out, R"([{"address":1,"version":"1.2","kind":"C","info1":8,"info2":1}])"
                             "\n");
    EXPECT_TRUE(contains(done.done.err, "address 3 on " + sim_.slave_path() +
                                            " answers, but not as an instrument: "))
        << done.done.err;
}

TEST_F(ScanAgainstSim, NobodyAnsweringExitsOne) {
    sim::FaultRule silence;
    silence.kind = sim::FaultKind::no_reply;
    sim_.add_fault(silence);
    const Timed done = scan({});
    EXPECT_EQ(done.done.exit_code, 1);
    EXPECT_EQ(done.done.out, "");
    EXPECT_TRUE(contains(done.done.err, "no instrument answers on " + sim_.slave_path()))
        << done.done.err;
    EXPECT_GE(done.elapsed_ms, 8 * 500);
}

// A line that goes away is not a line of silent addresses: the scan stops and says why.
TEST_F(ScanAgainstSim, ALineThatHangsUpStopsTheScan) {
    sim::FaultRule hang_up;
    hang_up.kind = sim::FaultKind::hang_up;
    hang_up.count = 1;
    sim_.add_fault(hang_up);
    const Timed done = scan({});
    EXPECT_EQ(done.done.exit_code, 1);
    EXPECT_EQ(done.done.out, "");
    EXPECT_TRUE(contains(done.done.err, "scan stopped at address 1 on ")) << done.done.err;
    EXPECT_FALSE(contains(done.done.err, "no instrument answers")) << done.done.err;
}

TEST(ScanWithoutLine, AMissingDeviceExitsOneBeforeAsking) {
    const Finished done = run_client(kClient, {"--device", "/nonexistent/tty", "scan"});
    EXPECT_EQ(done.exit_code, 1);
    EXPECT_TRUE(contains(done.err, "cannot open /nonexistent/tty")) << done.err;
    EXPECT_FALSE(contains(done.err, "asking addresses")) << done.err;
}

std::vector<FlatObject> listed_ports(Words args) {
    args.insert(args.begin(), {"ports", "--json"});
    const Finished done = run_client(kClient, args);
    EXPECT_EQ(done.exit_code, 0) << done.err;
    EXPECT_TRUE(is_json(done.out)) << done.out;
    std::optional<std::vector<FlatObject>> objects = FlatListReader(done.out).read();
    EXPECT_TRUE(objects) << "not a list of flat objects: " << done.out;
    return objects.value_or(std::vector<FlatObject>{});
}

std::optional<std::string> value_of(const FlatObject& object, const std::string& key) {
    for (const auto& [name, value] : object) {
        if (name == key) return value;
    }
    return std::nullopt;
}

bool is_character_device(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

// The ttyS devices with a UART behind them: sysfs says its type is not 0 (PORT_UNKNOWN).
std::set<std::string> serial_ports_with_a_uart() {
    std::set<std::string> devices;
    const std::regex tty_s("ttyS[0-9]+");
    std::error_code error;
    for (fs::directory_iterator it("/dev", error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!std::regex_match(name, tty_s)) continue;
        std::ifstream type_file("/sys/class/tty/" + name + "/type");
        int type = 0;
        if (type_file >> type && type != 0) devices.insert(it->path().string());
    }
    return devices;
}

TEST(PortsOnThisMachine, JsonListsThisMachinesPortsWithTheirLinks) {
    const std::vector<std::string> keys = {
        "device",        "by_id",        "by_path", "driver",           "usb_vid",     "usb_pid",
        "serial_number", "manufacturer", "product", "latency_timer_ms", "latency_high"};
    const std::vector<FlatObject> shown = listed_ports({});
    const std::vector<FlatObject> all = listed_ports({"--all"});
    std::set<std::string> shown_devices;
    std::set<std::string> all_devices;
    for (const auto* list : {&shown, &all}) {
        for (const FlatObject& port : *list) {
            std::vector<std::string> names;
            for (const auto& field : port) names.push_back(field.first);
            EXPECT_EQ(names, keys);
            const std::optional<std::string> device = value_of(port, "device");
            ASSERT_TRUE(device);
            EXPECT_EQ(device->rfind("/dev/", 0), 0u) << *device;
            EXPECT_TRUE(is_character_device(*device)) << *device;
            for (const char* link : {"by_id", "by_path"}) {
                if (const auto path = value_of(port, link)) {
                    EXPECT_EQ(fs::canonical(*path), fs::canonical(*device)) << *path;
                }
            }
            for (const char* id : {"usb_vid", "usb_pid"}) {
                if (const auto text = value_of(port, id)) {
                    EXPECT_TRUE(std::regex_match(*text, std::regex("[0-9a-f]{4}"))) << *text;
                }
            }
            // The latency timer where sysfs has one, flagged when above 1 ms.
            const std::optional<std::string> ms = value_of(port, "latency_timer_ms");
            const std::optional<std::string> high = value_of(port, "latency_high");
            EXPECT_EQ(ms.has_value(), high.has_value()) << *device;
            if (ms && high) {
                EXPECT_TRUE(std::regex_match(*ms, std::regex("[0-9]+"))) << *ms;
                EXPECT_EQ(*high, std::stoi(*ms) > 1 ? "true" : "false") << *device;
            }
            (list == &shown ? shown_devices : all_devices).insert(*device);
        }
    }
    EXPECT_EQ(shown_devices.size(), shown.size()) << "a device listed twice";
    for (const std::string& device : shown_devices) {
        EXPECT_TRUE(all_devices.contains(device)) << device << " missing with --all";
    }
    for (const std::string& device : serial_ports_with_a_uart()) {
        EXPECT_TRUE(shown_devices.contains(device)) << device << " has a UART but is not listed";
    }
}

TEST(PortsOnThisMachine, TableOrSayingThereIsNone) {
    const Finished done = run_client(kClient, {"ports"});
    EXPECT_EQ(done.exit_code, 0) << done.err;
    EXPECT_TRUE(done.out.find("device") != std::string::npos ||
                done.out.find("no serial ports found") != std::string::npos)
        << done.out;
    EXPECT_EQ(done.err, "");
}

}  // namespace
}  // namespace qk42rt::testing
