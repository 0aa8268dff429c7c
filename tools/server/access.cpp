#include "access.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

#include <fstream>
#include <sstream>

#include "file_privacy.h"

namespace qk42rt::server {

std::optional<std::string> read_token_file(const std::string& path, std::string& error) {
    std::string why;
    const auto privacy = file_privacy(path, why);
    if (!privacy) {
        error = "cannot read the token file " + path + ": " + why;
        return std::nullopt;
    }
    if (privacy->group_may_use || privacy->others_may_use) {
        error = "the token file " + path +
                " must not be readable or writable by others (chmod 600 " + path + ")";
        return std::nullopt;
    }
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file) {
        error = "cannot read the token file " + path;
        return std::nullopt;
    }
    std::string token = text.str();
    // A trailing newline from an editor or `echo` is not part of the token.
    while (!token.empty() &&
           (token.back() == '\n' || token.back() == '\r' || token.back() == ' ')) {
        token.pop_back();
    }
    if (token.empty()) {
        error = "the token file " + path + " holds no token";
        return std::nullopt;
    }
    return token;
}

bool bearer_matches(const std::string& header, const std::string& token) {
    static const std::string kScheme = "Bearer ";
    if (header.size() != kScheme.size() + token.size()) return false;
    unsigned char differ = 0;
    for (std::size_t i = 0; i < header.size(); ++i) {
        const char want = i < kScheme.size() ? kScheme[i] : token[i - kScheme.size()];
        differ |= static_cast<unsigned char>(header[i] ^ want);
    }
    return differ == 0;
}

bool loopback_host(const std::string& host) {
    if (host == "localhost" || host == "::1") return true;
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    return false;
}

}  // namespace qk42rt::server
