// Who may do what: the bearer token (from a file only its owner may read), compared in
// constant time, and whether the server listens on loopback only.
#pragma once

#include <optional>
#include <string>

namespace qk42rt::server {

// What a route does, which decides who may ask for it.
enum class Kind {
    read,   // a read; needs the token only beyond loopback
    write,  // changes the instrument: token, and never on a read-only server
    open,   // anyone: the health check and the page
};

// Reads the token from `path`. Refuses (with the reason in `error`) a file that others may
// read or write, a file that cannot be read, and an empty token.
std::optional<std::string> read_token_file(const std::string& path, std::string& error);

// True when `header` is "Bearer <token>" with exactly `token`; takes as long whatever part
// of the header differs.
bool bearer_matches(const std::string& header, const std::string& token);

// True for a name or address that only this machine reaches: localhost, 127.0.0.0/8, ::1.
bool loopback_host(const std::string& host);

}  // namespace qk42rt::server
