// `qk42rt serve`: checks its options, opens the line through the worker, finds the
// instruments, then serves HTTP until SIGINT or SIGTERM.
#include <signal.h>
#include <sys/socket.h>

#include <cstdio>
#include <iostream>
#include <thread>
#include <variant>

#include "access.h"
#include "api.h"
#include "http_reply.h"
#include "page.h"
#include "poller.h"
#include "port/device_string.h"
#include "serve_options.h"
#include "stop_signals.h"

namespace qk42rt::server {
namespace {

namespace cmd = qk42rt::commands;

// Threads for connections: event-stream subscribers each keep one while they listen.
constexpr std::size_t kConnectionThreads = 160;
constexpr std::size_t kBodyLimit = 4096;
constexpr int kSlowClientSeconds = 5;
constexpr std::size_t kRequestsPerConnection = 100000;
// How long a start without --address waits for the line before serving address 1 alone.
constexpr auto kScanWait = std::chrono::seconds(5);

int refuse(const std::string& message) {
    std::cerr << "qk42rt serve: " << message << '\n';
    return 2;
}

// The addresses to serve: those given, or those that answer a version request (at least 1).
std::vector<int> find_instruments(const LineOptions& options, LineWorker& worker, Metrics& metrics,
                                  std::map<int, cmd::Version>& versions) {
    std::vector<int> candidates = options.addresses;
    const bool scanning = candidates.empty();
    if (scanning) candidates = {1, 2, 3, 4, 5, 6, 7, 8};
    if (!worker.wait_until_up(std::chrono::duration_cast<std::chrono::milliseconds>(kScanWait))) {
        std::cerr << "qk42rt serve: the line is not up (" << worker.state().reason << "); serving "
                  << (scanning ? "address 1" : "the addresses given") << " until it is\n";
        return scanning ? std::vector<int>{1} : candidates;
    }
    if (scanning) std::cerr << "qk42rt serve: asking addresses 1 to 8 for their version\n";
    std::vector<int> answered;
    for (const int address : candidates) {
        const auto result = worker.run([&](protocol::Line& line) -> JobResult {
            const auto version = timed(metrics, [&] { return cmd::read_version(line, address); });
            if (!version.ok()) return version.error();
            versions[address] = version.value();
            return std::nullopt;
        });
        if (versions.count(address)) answered.push_back(address);
        if (!result) break;  // the line went away
    }
    if (!scanning) return candidates;
    return answered.empty() ? std::vector<int>{1} : answered;
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

}  // namespace

int serve(const ServeOptions& all) {
    const LineOptions& options = all.lines.front();
    const auto listen = parse_host_port(all.http.listen, /*allow_port_zero=*/true);
    if (const auto* error = std::get_if<DeviceStringError>(&listen)) {
        return refuse("--listen: " + error->message);
    }
    const HostPort where = std::get<HostPort>(listen);
    const bool loopback = loopback_host(where.host);
    AccessPolicy policy;
    policy.read_only = all.read_only;
    if (!all.http.token_file.empty()) {
        std::string error;
        policy.token = read_token_file(all.http.token_file, error);
        if (!policy.token) return refuse(error);
    }
    if (!loopback && !policy.token) {
        return refuse("listening on " + where.host +
                      " reaches beyond this machine: give --token-file FILE too "
                      "(or listen on 127.0.0.1)");
    }
    policy.reads_need_token = !loopback;

    // Only the thread below takes these signals; every other thread is started after.
    const sigset_t stop_signals = block_stop_signals();

    Metrics metrics;
    ReadingCache cache;
    LineWorker worker(options.device, [&](const LineState& state) {
        metrics.set_line_up(state.up);
        cache.line(state.up, state.reason);
        std::cerr << "qk42rt serve: " << options.device
                  << (state.up ? " is open" : " is down: " + state.reason) << '\n';
    });
    std::map<int, cmd::Version> versions;
    Instruments instruments(find_instruments(options, worker, metrics, versions));
    for (const auto& [address, version] : versions) instruments.set_version(address, version);

    std::atomic<bool> stopping{false};
    Context context{worker, cache, metrics, instruments, stopping};
    Router router(policy);
    add_api_routes(router, context);
    add_page_routes(router);
    router.add("GET", "/api/v1/line", Kind::read,
               [&](const httplib::Request&, httplib::Response& response, const std::smatch&) {
                   const LineState state = worker.state();
                   send_json(response, {{"device", options.device},
                                        {"up", state.up},
                                        {"reason", state.reason},
                                        {"read_only", all.read_only}});
               });

    httplib::Server http;
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
    socket_t listening = INVALID_SOCKET;
    http.set_socket_options([&listening](socket_t socket) {
        listening = socket;
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
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
    router.install(http);

    const int port = where.port == 0
                         ? http.bind_to_any_port(where.host)
                         : (http.bind_to_port(where.host, where.port) ? where.port : -1);
    // httplib listens with a backlog of 5: a burst of clients (a dozen scripts started together)
    // overflowed it, and the kernel reset some of them. Listening again raises it.
    if (port < 0 || ::listen(listening, SOMAXCONN) != 0) {
        return refuse("cannot listen on " + host_port_text(where.host, where.port));
    }
    std::printf("listening: http://%s/\n",
                host_port_text(where.host, static_cast<std::uint16_t>(port)).c_str());
    std::string served;
    for (const int address : instruments.addresses()) {
        served += ' ';
        served += std::to_string(address);
    }
    std::printf("serving: %s, address%s%s\n", options.device.c_str(),
                instruments.addresses().size() > 1 ? "es" : "", served.c_str());
    std::fflush(stdout);

    std::thread stopper([&] {
        int received = 0;
        sigwait(&stop_signals, &received);
        stopping = true;
        cache.wake_all();
        http.stop();
    });
    {
        Poller poller(context, std::chrono::milliseconds(options.poll_interval_ms));
        http.listen_after_bind();
    }
    // listen_after_bind only returns once stop() has run; wake the stopper if it did not.
    if (!stopping) pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    std::cerr << "qk42rt serve: stopped\n";
    return 0;  // the worker finishes the exchange in flight and closes the line
}

}  // namespace qk42rt::server
