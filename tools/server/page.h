// The page the server gives browsers (GET /), with its script, style and chart library, built
// into the program from web/.
#pragma once

#include <span>
#include <string_view>

namespace qk42rt::server {

struct Asset {
    std::string_view url;  // "/", "/app.js", ...
    std::string_view content_type;
    std::string_view body;
};

std::span<const Asset> page_assets();

}  // namespace qk42rt::server
