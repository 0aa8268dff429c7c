// The JSON forms of the instrument's results, as the API documents them.
#pragma once

#include <nlohmann/json.hpp>

#include "commands/commands.h"

namespace qk42rt::server {

// The flow of a reading; null while the instrument flags it invalid.
nlohmann::ordered_json flow_json(const commands::Reading& reading);

// {"bytes":"DE010000","count":478}: the bytes as sent, and the count they hold.
nlohmann::ordered_json four_bytes_json(const commands::FourBytes& bytes);

nlohmann::ordered_json ratio_total_json(const commands::RatioTotal& config);

// As the instruments list and /version give it.
nlohmann::ordered_json version_json(int address, const commands::Version& version);

}  // namespace qk42rt::server
