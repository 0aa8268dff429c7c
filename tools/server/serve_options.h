// What `qk42rt serve` is asked to do: one line from the command line, or any number of lines
// from a configuration file, served over HTTP and, when asked, MQTT.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qk42rt::server {

struct LineOptions {
    std::string name = "line1";   // letters, digits, - and _; unique among the lines
    std::string device;           // any device string
    std::vector<int> addresses;   // instruments to serve; empty: those that answer a scan
    int poll_interval_ms = 1000;  // flows of every served channel, this often
};

struct HttpOptions {
    bool enabled = true;
    std::string listen = "127.0.0.1:8042";
    std::string token_file;  // empty: no token
};

struct MqttOptions {
    std::string broker;     // mqtt://HOST[:PORT] or mqtts://HOST[:PORT]
    std::string base;       // empty: qk42/<host name>
    std::string client_id;  // empty: qk42rt-<host name>
    std::string username;   // empty: no login
    std::string password_file;
    std::string ca_file;    // mqtts://: the authority the broker's certificate must come from
    std::string cert_file;  // with key_file: a client certificate
    std::string key_file;
    bool discovery = false;  // Home Assistant discovery
    bool insecure = false;   // plain mqtt:// to a host other than loopback
};

struct ServeOptions {
    HttpOptions http;
    std::optional<MqttOptions> mqtt;
    std::vector<LineOptions> lines;
    bool read_only = false;  // no write reaches an instrument, whichever way it comes
};

// Runs the server until SIGINT or SIGTERM; the exit status. Messages go to stderr, the
// address it listens on to stdout ("listening: http://127.0.0.1:8042").
int serve(const ServeOptions& options);

}  // namespace qk42rt::server
