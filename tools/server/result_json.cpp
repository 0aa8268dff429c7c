#include "result_json.h"

#include <string>

#include "answer.h"
#include "commands/words.h"
#include "protocol/text.h"

namespace qk42rt::server {

using json = nlohmann::ordered_json;

json flow_json(const commands::Reading& reading) {
    return reading.flagged_invalid ? json(nullptr) : float_json(reading.value);
}

json four_bytes_json(const commands::FourBytes& bytes) {
    return {{"bytes", protocol::hex_bytes(bytes, "")}, {"count", commands::count_of(bytes)}};
}

json ratio_total_json(const commands::RatioTotal& config) {
    return {{"channel", config.channel},
            {"value", config.value},
            {"channel2", config.channel2},
            {"channel3", config.channel3}};
}

json version_json(int address, const commands::Version& version) {
    // Up to the first NUL, as the version text always read.
    const std::string text(version.text.begin(), version.text.end());
    return {{"address", address},
            {"version", json(text.c_str())},
            {"kind", commands::kind_text(version.kind)},
            {"info1", version.info1},
            {"info2", version.info2}};
}

}  // namespace qk42rt::server
