// `qk42rt serve`: checks its options, opens every line through its worker, finds the
// instruments, then serves HTTP (and MQTT when asked) until SIGINT or SIGTERM.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>
#include <variant>

#include "access.h"
#include "api.h"
#include "http_reply.h"
#include "mqtt_front.h"
#include "page.h"
#include "port/device_string.h"
#include "serve_options.h"
#include "served_line.h"
#include "stop_request.h"

namespace qk42rt::server {
namespace {

// Threads for connections: event-stream subscribers each keep one while they listen.
constexpr std::size_t kConnectionThreads = 160;
constexpr std::size_t kBodyLimit = 4096;
constexpr int kSlowClientSeconds = 5;
constexpr std::size_t kRequestsPerConnection = 100000;

int refuse(const std::string& message) {
    std::cerr << "qk42rt serve: " << message << '\n';
    return 2;
}

// Opens every line and finds its instruments, all at once: a line that is down makes the
// others wait no longer than it does.
ServedLines start_lines(const ServeOptions& options, const std::atomic<bool>& stopping) {
    auto hub = std::make_shared<EventHub>();
    ServedLines lines;
    for (const LineOptions& line : options.lines) {
        lines.push_back(std::make_unique<ServedLine>(line, hub, stopping));
    }
    std::vector<std::jthread> starting;
    for (auto& line : lines) starting.emplace_back([&line] { line->start(); });
    return lines;
}

void print_serving(const ServedLines& lines) {
    for (const auto& line : lines) {
        std::string served;
        const auto& addresses = line->instruments().addresses();
        for (const int address : addresses) served += ' ' + std::to_string(address);
        const std::string which = lines.size() > 1 ? " (line " + line->name() + ")" : "";
        std::printf("serving: %s, address%s%s%s\n", line->options().device.c_str(),
                    addresses.size() > 1 ? "es" : "", served.c_str(), which.c_str());
    }
    std::fflush(stdout);
}

void add_page_routes(Router& router) {
    for (const Asset& asset : page_assets()) {
        const std::string pattern = asset.url == "/" ? "/(index\\.html)?" : std::string(asset.url);
        router.add(
            "GET", pattern.c_str(), Kind::open,
            [&asset](const httplib::Request&, httplib::Response& response, const std::smatch&) {
                response.set_content(std::string(asset.body), std::string(asset.content_type));
            });
    }
}

void configure(httplib::Server& http, socket_t& listening) {
    http.new_task_queue = [] { return new httplib::ThreadPool(kConnectionThreads); };
    http.set_payload_max_length(kBodyLimit);
    http.set_read_timeout(kSlowClientSeconds, 0);
    http.set_write_timeout(kSlowClientSeconds, 0);
    http.set_keep_alive_timeout(kSlowClientSeconds);
    // A busy client keeps its connection: closing it after a few requests (httplib's default)
    // races the client's next request on it. Idle ones still go after the time-out above.
    http.set_keep_alive_max_count(kRequestsPerConnection);
    http.set_tcp_nodelay(true);
    // SO_REUSEADDR alone: httplib's default adds SO_REUSEPORT, with which a second server on
    // the same port starts too and the kernel splits connections between two lines.
    http.set_socket_options([&listening](socket_t socket) {
        listening = socket;
        const int yes = 1;
#ifdef _WIN32
        // On Windows SO_REUSEADDR would let a second server take the port: exclusive instead.
        setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
                   sizeof yes);
#else
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
    });
    http.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        // Errors httplib finds itself, before any route: a body over the limit, a request it
        // cannot parse. Answered in the API's own form.
        if (!response.body.empty()) return;
        if (response.status == 413) {
            send_error(response, 413, "the body is larger than 4 KiB", "too_large");
        } else {
            send_error(response, response.status, "the request could not be read", "bad_request");
        }
    });
    http.set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
            send_error(response, 500, "the server failed on this request", "internal");
        });
}

}  // namespace

int serve(const ServeOptions& options) {
    if (options.lines.empty()) return refuse("no line to serve");
    const auto listen = parse_host_port(options.http.listen, /*allow_port_zero=*/true);
    if (const auto* error = std::get_if<DeviceStringError>(&listen)) {
        return refuse("--listen: " + error->message);
    }
    const HostPort where = std::get<HostPort>(listen);
    const bool loopback = loopback_host(where.host);
    AccessPolicy policy;
    policy.read_only = options.read_only;
    if (!options.http.token_file.empty()) {
        std::string error;
        policy.token = read_token_file(options.http.token_file, error);
        if (!policy.token) return refuse(error);
    }
    if (options.http.enabled && !loopback && !policy.token) {
        return refuse("listening on " + where.host +
                      " reaches beyond this machine: give --token-file FILE too "
                      "(or listen on 127.0.0.1)");
    }
    policy.reads_need_token = !loopback;
    if (options.mqtt && !mqtt_built_in()) {
        return refuse("this build of qk42rt has no MQTT (the Linux gateway has)");
    }

    // Only the thread below takes these signals; every other thread is started after.
    const StopRequest stop_request;

    std::atomic<bool> stopping{false};
    const ServedLines lines = start_lines(options, stopping);
    const ApiScope scope{lines, stopping, options.read_only};
    EventHub& hub = lines.front()->cache().hub();
    // Declared before the HTTP server: it stops after HTTP does, saying offline on its way.
    std::string mqtt_error;
    const std::shared_ptr<void> mqtt = start_mqtt(options, scope, mqtt_error);
    if (!mqtt_error.empty()) return refuse(mqtt_error);

    httplib::Server http;
    socket_t listening = INVALID_SOCKET;
    if (options.http.enabled) {
        Router router(policy);
        add_api_routes(router, scope);
        add_page_routes(router);
        configure(http, listening);
        router.install(http);
        const int port = where.port == 0
                             ? http.bind_to_any_port(where.host)
                             : (http.bind_to_port(where.host, where.port) ? where.port : -1);
        // httplib listens with a backlog of 5: a burst of clients (a dozen scripts started
        // together) overflowed it, and the kernel reset some of them. Listening again raises it.
        if (port < 0 || ::listen(listening, SOMAXCONN) != 0) {
            return refuse("cannot listen on " + host_port_text(where.host, where.port));
        }
        std::printf("listening: http://%s/\n",
                    host_port_text(where.host, static_cast<std::uint16_t>(port)).c_str());
        print_serving(lines);

        std::atomic<bool> listen_ended{false};
        std::thread stopper([&] {
            stop_request.wait();
            stopping = true;
            hub.wake_all();
            // stop() stops only a server that runs already: a signal in the moment between
            // "listening:" and the server running (a service stopped as it starts) was lost,
            // and the server served on.
            while (!http.is_running() && !listen_ended) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            http.stop();
        });
        http.listen_after_bind();
        listen_ended = true;
        // listen_after_bind only returns once stop() has run; wake the stopper if it did not.
        if (!stopping) stop_request.wake(stopper);
        stopper.join();
    } else {
        print_serving(lines);
        stop_request.wait();
        stopping = true;
        hub.wake_all();
    }
    std::cerr << "qk42rt serve: stopped\n";
    return 0;  // each line finishes the exchange in flight and closes
}

}  // namespace qk42rt::server
