#include "port_map_text.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using qk42rt::portmap::parse_port_map;

struct Case {
    const char* text;
    std::map<int, std::string> devices;
    std::vector<std::string> rejected;
};

class PortMapText : public ::testing::TestWithParam<Case> {};

TEST_P(PortMapText, ReadsEntriesAndRejectsWhatIsNotPortEqualsDevice) {
    const auto& c = GetParam();
    auto map = parse_port_map(c.text);
    EXPECT_EQ(map.devices, c.devices) << c.text;
    EXPECT_EQ(map.rejected, c.rejected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Entries, PortMapText,
    ::testing::Values(
        Case{"", {}, {}}, Case{" , ,", {}, {}},
        Case{"5=/tmp/qk42rt-sim-tty,6=/dev/pts/7",
             {{5, "/tmp/qk42rt-sim-tty"}, {6, "/dev/pts/7"}},
             {}},
        Case{" 5 = /tmp/a b ,", {{5, "/tmp/a b"}}, {}},  // blanks inside a path stay
        Case{"5=/a,5=/b", {{5, "/b"}}, {}},              // the last word counts
        Case{"+5=/a,-1=/b,0=/c", {{5, "/a"}, {-1, "/b"}, {0, "/c"}}, {}},
        Case{"5=/a=b", {{5, "/a=b"}}, {}},  // only the first '=' separates
        // Nothing half-read: a wrong entry is reported whole and the others still count.
        Case{"5,x=/a,=/b,6=,7=/c", {{7, "/c"}}, {"5", "x=/a", "=/b", "6="}},
        Case{"5x=/a,0x5=/b,5.0=/c", {}, {"5x=/a", "0x5=/b", "5.0=/c"}},
        Case{"2147483647=/a,-2147483648=/b,2147483648=/c,99999999999999999999=/d",
             {{2147483647, "/a"}, {-2147483648, "/b"}},
             {"2147483648=/c", "99999999999999999999=/d"}}));

}  // namespace
