#include "access.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qk42rt::server {

std::optional<std::string> read_token_file(const std::string& path, std::string& error) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        error = "cannot read the token file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (info.st_mode & (S_IRWXG | S_IRWXO)) {
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
