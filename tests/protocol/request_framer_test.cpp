// The byte stream from the host cut into requests, with noise and truncated requests.
#include "protocol/request_framer.h"

#include <gtest/gtest.h>

#include <vector>

namespace qk42rt::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct FramingCase {
    const char* name;
    Bytes stream;
    std::vector<Bytes> requests;
    std::uint64_t dropped;
};

class Framing : public ::testing::TestWithParam<FramingCase> {};

TEST_P(Framing, CutsRequestsAndDropsTheRest) {
    const FramingCase& c = GetParam();
    RequestFramer framer;
    std::vector<Bytes> got;
    for (const std::uint8_t byte : c.stream) {
        if (framer.feed(byte)) got.push_back(framer.request());
    }
    EXPECT_EQ(got, c.requests);
    EXPECT_EQ(framer.dropped(), c.dropped);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Framing,
    ::testing::Values(
        FramingCase{"one_byte_requests", {0x87, 0x89, 0x8B}, {{0x87}, {0x89}, {0x8B}}, 0},
        FramingCase{"set_maxflow_takes_eight",
                    {0x8F, 0x01, 0x04, 0x00, 0x00, 0x48, 0x42, 0x02},
                    {{0x8F, 0x01, 0x04, 0x00, 0x00, 0x48, 0x42, 0x02}},
                    0},
        FramingCase{
            "noise_before_a_header_is_dropped", {0x05, 0x7F, 0x83, 0x01}, {{0x83, 0x01}}, 2},
        FramingCase{"truncated_request_recovers_at_next_header",
                    {0x8E, 0x00, 0x04, 0x83, 0x01},
                    {{0x83, 0x01}},
                    3},
        FramingCase{"header_byte_in_data_position_restarts", {0x88, 0x85, 0x00}, {{0x85, 0x00}}, 1},
        FramingCase{"bytes_after_a_complete_request_are_dropped",
                    {0x8B, 0x00, 0x00, 0x97},
                    {{0x8B}, {0x97}},
                    2},
        FramingCase{"unfinished_request_at_the_end_waits", {0x83}, {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Framing, ReportsTheDroppedBytesOnce) {
    RequestFramer framer;
    for (const std::uint8_t byte : {0x11, 0x8E, 0x00, 0x83}) framer.feed(byte);
    EXPECT_EQ(framer.take_dropped(), (Bytes{0x11, 0x8E, 0x00}));
    EXPECT_TRUE(framer.take_dropped().empty());
}

}  // namespace
}  // namespace qk42rt::protocol
