// The words every face uses around the operations' results: the kind letter, the integration
// control words, the count in a 4-byte reading, and the four readings of a channel that a
// status table shows.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "commands/commands.h"

namespace qk42rt::commands {

// "M" for kind 0, "C" for kind 1, as the instrument sends them.
const char* kind_text(int kind);

// Integration control codes by name, as the instrument understands them; any other code
// 0..127 is sent as a number (above 127 it would look like the start of a request).
inline constexpr int kIntegrationStart = 0x01;
inline constexpr int kIntegrationStop = 0x02;
inline constexpr int kIntegrationReset = 0x03;  // zeroes the counters, keeps running
struct IntegrationWord {
    std::string_view word;
    int control;
};
inline constexpr std::array<IntegrationWord, 3> kIntegrationWords{
    {{"start", kIntegrationStart}, {"stop", kIntegrationStop}, {"reset", kIntegrationReset}}};

// The control code of a word; empty for any other text.
std::optional<int> integration_control(std::string_view word);

// "start, stop, reset".
std::string integration_words();

// The count a 4-byte reading holds, least significant byte first as the instrument sends
// its multi-byte values.
std::uint32_t count_of(const FourBytes& bytes);

// Flow, setpoint, maximum flow and unit of one channel.
struct ChannelStatus {
    Reading flow;
    float setpoint = 0.0f;
    float maxflow = 0.0f;
    int unit = 0;
};

// Reads them in that order; the first failure ends the walk, and `failed` (when given) then
// names the reading that failed: "read flow", "read setpoint", "read maximum flow", "read unit".
Outcome<ChannelStatus> read_channel_status(Line& line, int address, int channel,
                                           const char** failed = nullptr);

}  // namespace qk42rt::commands
