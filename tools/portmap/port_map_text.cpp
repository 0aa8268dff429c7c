#include "port_map_text.h"

#include <charconv>

namespace qk42rt::portmap {
namespace {

std::string_view trim(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

bool parse_port(std::string_view text, int& port) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    return error == std::errc{} && end == text.data() + text.size();
}

}  // namespace

PortMap parse_port_map(std::string_view text) {
    PortMap map;
    while (!text.empty()) {
        auto comma = text.find(',');
        auto entry = trim(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        if (entry.empty()) continue;

        auto equals = entry.find('=');
        int port = 0;
        auto device =
            equals == std::string_view::npos ? std::string_view{} : trim(entry.substr(equals + 1));
        if (equals == std::string_view::npos || !parse_port(trim(entry.substr(0, equals)), port) ||
            device.empty()) {
            map.rejected.emplace_back(entry);
            continue;
        }
        map.devices[port] = std::string(device);
    }
    return map;
}

}  // namespace qk42rt::portmap
