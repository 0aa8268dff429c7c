#include "commands/words.h"

#include "protocol/frame.h"

namespace qk42rt::commands {

const char* kind_text(int kind) {
    return kind == 0 ? "M" : "C";
}

std::optional<int> integration_control(std::string_view word) {
    for (const IntegrationWord& named : kIntegrationWords) {
        if (word == named.word) return named.control;
    }
    return std::nullopt;
}

std::string integration_words() {
    std::string words;
    for (const IntegrationWord& named : kIntegrationWords) {
        if (!words.empty()) words += ", ";
        words += named.word;
    }
    return words;
}

std::uint32_t count_of(const FourBytes& bytes) {
    return protocol::count_of(bytes);
}

Outcome<ChannelStatus> read_channel_status(Line& line, int address, int channel,
                                           const char** failed) {
    const auto fail = [&](const char* step, const Error& error) -> Outcome<ChannelStatus> {
        if (failed != nullptr) *failed = step;
        return error;
    };
    ChannelStatus status;
    const auto flow = read_flow(line, address, channel);
    if (!flow.ok()) return fail("read flow", flow.error());
    status.flow = flow.value();
    const auto setpoint = read_setpoint(line, address, channel);
    if (!setpoint.ok()) return fail("read setpoint", setpoint.error());
    status.setpoint = setpoint.value().value;
    const auto maxflow = read_maxflow(line, address, channel);
    if (!maxflow.ok()) return fail("read maximum flow", maxflow.error());
    status.maxflow = maxflow.value().value;
    const auto unit = read_unit(line, address, channel);
    if (!unit.ok()) return fail("read unit", unit.error());
    status.unit = unit.value();
    return status;
}

}  // namespace qk42rt::commands
