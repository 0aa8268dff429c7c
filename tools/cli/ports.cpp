// `ports`: the serial ports of this machine, without opening any of them.
#include "serial_ports.h"
#include "subcommands.h"

namespace qk42rt::cli {

Prepared prepare_ports(const CommandLine& line) {
    const bool all = line.all;
    const bool json = line.json;
    return {{}, [all, json](std::ostream& out) {
                const std::vector<SerialPort> found = find_serial_ports();
                const std::vector<SerialPort> shown = ports_to_show(found, all);
                if (json) {
                    nlohmann::ordered_json list = nlohmann::ordered_json::array();
                    for (const SerialPort& port : shown) list.push_back(port_record(port));
                    out << json_text(list) << '\n';
                    return 0;
                }
                if (shown.empty()) {
                    out << "no serial ports found";
                    if (found.size() > shown.size()) {
                        out << "; --all lists unused legacy ports too ("
                            << found.size() - shown.size() << " here)";
                    }
                    out << '\n';
                    return 0;
                }
                std::vector<std::vector<std::string>> rows;
                for (const SerialPort& port : shown) rows.push_back(port_row(port));
                print_table(out, ports_table_header(), rows);
                for (const SerialPort& port : shown) {
                    if (const auto note = latency_note(port)) out << *note << '\n';
                }
                return 0;
            }};
}

}  // namespace qk42rt::cli
