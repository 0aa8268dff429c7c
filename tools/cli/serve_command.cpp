// `serve`: hands the command line to the server, which owns the line itself (and opens it
// again whenever it goes away), so no Session is opened here.
#include <iostream>
#include <variant>

#include "serve_config.h"
#include "serve_options.h"
#include "subcommands.h"

namespace qk42rt::cli {
namespace {

// A configuration the server cannot start with: told as its own refusals are, before any
// line is opened.
Prepared refused(const std::string& message) {
    return {{}, [message](std::ostream&) {
                std::cerr << "qk42rt serve: " << message << '\n';
                return 2;
            }};
}

}  // namespace

Prepared prepare_serve(const CommandLine& line) {
    server::ServeOptions options;
    if (!line.serve.config.empty()) {
        auto read = server::read_serve_config(line.serve.config);
        if (const auto* error = std::get_if<std::string>(&read)) return refused(*error);
        options = std::move(std::get<server::ServeOptions>(read));
        // Only ever stricter than the file: a quick way to serve a plant without writes.
        options.read_only = options.read_only || line.serve.read_only;
        return {{}, [options](std::ostream&) { return server::serve(options); }};
    }
    server::LineOptions served;
    served.name = line.serve.name;
    served.device = chosen_device(line);
    served.addresses = line.addresses;
    served.poll_interval_ms = line.serve.poll_interval_ms;
    options.lines.push_back(served);
    options.http.listen = line.serve.listen;
    options.http.token_file = line.serve.token_file;
    options.read_only = line.serve.read_only;
    if (!line.serve.mqtt.empty()) {
        server::MqttOptions mqtt;
        mqtt.broker = line.serve.mqtt;
        mqtt.base = line.serve.mqtt_base;
        mqtt.username = line.serve.mqtt_username;
        mqtt.password_file = line.serve.mqtt_password_file;
        mqtt.ca_file = line.serve.mqtt_ca_file;
        mqtt.discovery = line.serve.mqtt_discovery;
        mqtt.insecure = line.serve.mqtt_insecure;
        if (const auto error = server::check_mqtt(mqtt)) return refused(*error);
        options.mqtt = mqtt;
    }
    return {{}, [options](std::ostream&) { return server::serve(options); }};
}

}  // namespace qk42rt::cli
