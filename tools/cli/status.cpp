// `status`: the eight channels of one instrument in one table. The first failure stops the
// walk: an instrument that does not answer would otherwise cost 32 time-outs.
#include <string>
#include <vector>

#include "commands/commands.h"
#include "commands/words.h"
#include "subcommands.h"

namespace qk42rt::cli {
namespace {

struct ChannelRow {
    int channel;
    commands::ChannelStatus status;
};

ChannelRow read_channel(Session& s, int channel) {
    const char* failed = "";
    const auto status = commands::read_channel_status(s.line(), s.address(), channel, &failed);
    return {channel,
            s.need(status, std::string(failed) + " of channel " + std::to_string(channel))};
}

Record row_record(const ChannelRow& row) {
    return {{"channel", row.channel},
            {"flow", float_value(row.status.flow.value)},
            {"setpoint", float_value(row.status.setpoint)},
            {"maxflow", float_value(row.status.maxflow)},
            {"unit", row.status.unit},
            {"status", row.status.flow.status}};
}

}  // namespace

Prepared prepare_status(const CommandLine&) {
    return {[](Session& s) {
                std::vector<ChannelRow> rows;
                for (int channel = 1; channel <= 8; ++channel) {
                    rows.push_back(read_channel(s, channel));
                }
                if (s.json()) {
                    Record status{{"address", s.address()},
                                  {"channels", nlohmann::ordered_json::array()}};
                    for (const ChannelRow& row : rows)
                        status["channels"].push_back(row_record(row));
                    s.out() << json_text(status) << '\n';
                    return 0;
                }
                std::vector<std::vector<std::string>> cells;
                for (const ChannelRow& row : rows) {
                    std::vector<std::string> line;
                    const Record record = row_record(row);
                    for (const auto& [name, value] : record.items()) {
                        line.push_back(text_value(value));
                    }
                    cells.push_back(std::move(line));
                }
                print_table(s.out(), {"channel", "flow", "setpoint", "maxflow", "unit", "status"},
                            cells);
                return 0;
            },
            {}};
}

}  // namespace qk42rt::cli
