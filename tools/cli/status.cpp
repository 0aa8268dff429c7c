// `status`: the eight channels of one instrument in one table. The first failure stops the
// walk: an instrument that does not answer would otherwise cost 32 time-outs.
#include <string>
#include <vector>

#include "commands/commands.h"
#include "subcommands.h"

namespace qk42rt::cli {
namespace {

struct ChannelRow {
    int channel;
    commands::Reading flow;
    float setpoint;
    float maxflow;
    int unit;
};

ChannelRow read_channel(Session& s, int channel) {
    const std::string of = " of channel " + std::to_string(channel);
    ChannelRow row{channel, {}, 0.0f, 0.0f, 0};
    row.flow = s.need(commands::read_flow(s.line(), s.address(), channel), "read flow" + of);
    row.setpoint =
        s.need(commands::read_setpoint(s.line(), s.address(), channel), "read setpoint" + of).value;
    row.maxflow =
        s.need(commands::read_maxflow(s.line(), s.address(), channel), "read maximum flow" + of)
            .value;
    row.unit = s.need(commands::read_unit(s.line(), s.address(), channel), "read unit" + of);
    return row;
}

Record row_record(const ChannelRow& row) {
    return {{"channel", row.channel},
            {"flow", float_value(row.flow.value)},
            {"setpoint", float_value(row.setpoint)},
            {"maxflow", float_value(row.maxflow)},
            {"unit", row.unit},
            {"status", row.flow.status}};
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
