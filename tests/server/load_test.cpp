// Sixteen clients mixing reads and writes for 30 s (QK42RT_LOAD_SECONDS: CTest runs 5, the
// benchmark script the full 30): no failed request, no value crossing to another request, the
// exchanges never interleaved on the wire (the simulator's transcript: each request followed
// by its reply, no stray byte), and the poller still polling for the event stream meanwhile.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>
#include <vector>

#include "pty_master.h"
#include "served.h"

namespace qk42rt::testing {
namespace {

constexpr int kClients = 16;

int run_seconds() {
    const char* text = std::getenv("QK42RT_LOAD_SECONDS");
    const int seconds = text != nullptr ? std::atoi(text) : 30;
    return seconds > 0 ? seconds : 30;
}

TEST(ServeLoad, SixteenClientsNeverCrossOrInterleave) {
    const int seconds = run_seconds();
    const auto run_for = std::chrono::seconds(seconds);
    std::mutex transcript_mutex;
    std::vector<std::string> transcript;
    sim::Options options = test_sim_options({1, 2});
    options.transcript = [&](const std::string& line) {
        std::lock_guard lock(transcript_mutex);
        transcript.push_back(line);
    };
    sim::Simulator sim(options);
    Served served(sim.slave_path(), {"--address", "1", "--address", "2", "--poll-interval", "250"});

    std::atomic<long> requests{0}, failed{0}, crossed{0};
    std::mutex why_mutex;
    std::string why;  // the first failure
    const auto note = [&](const httplib::Result& result, const char* what) {
        if (result && result->status == 200) return;
        std::lock_guard lock(why_mutex);
        if (why.empty()) {
            why = std::string(what) + ": " +
                  (result ? std::to_string(result->status) + " " + result->body
                          : "httplib error " + httplib::to_string(result.error()));
        }
    };
    const auto until = std::chrono::steady_clock::now() + run_for;
    std::atomic<long> readings{0};
    std::thread subscriber([&] {
        httplib::Client http = served.client();
        http.set_read_timeout(40, 0);
        std::string tail;
        http.Get("/api/v1/events", [&](const char* data, std::size_t size) {
            tail.append(data, size);
            for (auto at = tail.find("event: reading"); at != std::string::npos;
                 at = tail.find("event: reading", at + 1)) {
                ++readings;
            }
            tail = tail.substr(tail.size() > 16 ? tail.size() - 16 : 0);
            return std::chrono::steady_clock::now() < until;
        });
    });
    std::vector<std::thread> clients;
    for (int id = 0; id < kClients; ++id) {
        clients.emplace_back([&, id] {
            httplib::Client http = served.client();
            http.set_keep_alive(true);
            const int address = id / 8 + 1;
            const std::string base = "/api/v1/instruments/" + std::to_string(address) +
                                     "/channels/" + std::to_string(id % 8 + 1);
            for (int i = 0; std::chrono::steady_clock::now() < until; ++i) {
                // A value only this client ever writes, exact in a float.
                const int value = id * 100000 + i % 100000;
                const auto put =
                    http.Put(base + "/setpoint", "{\"setpoint\":" + std::to_string(value) + "}",
                             "application/json");
                const auto get = http.Get(base + "/setpoint");
                // Not the flow: its readings would mix with the poller's in the event stream.
                const auto flow = http.Get(base + "/unit");
                requests += 3;
                note(put, "PUT setpoint");
                note(get, "GET setpoint");
                note(flow, "GET unit");
                if (!put || put->status != 200 || !get || get->status != 200 || !flow ||
                    flow->status != 200) {
                    ++failed;
                    continue;
                }
                const auto read = nlohmann::json::parse(get->body)["setpoint"].get<double>();
                if (read != value) ++crossed;
            }
        });
    }
    for (auto& client : clients) client.join();
    subscriber.join();
    EXPECT_GT(requests, 3 * kClients);
    // Sixteen channels every 250 ms would be 1,920 readings in 30 s; the clients' jobs share
    // the line with the poller's, but never hold polling back altogether: 200 in 30 s.
    EXPECT_GE(readings, 200 * seconds / 30) << "the poller starved under the clients' load";
    EXPECT_EQ(failed, 0) << why;
    EXPECT_EQ(crossed, 0);
    std::cout << requests << " requests by " << kClients << " clients in " << seconds << " s; "
              << readings << " polled readings streamed\n";

    served.stop();
    std::lock_guard lock(transcript_mutex);
    long exchanges = 0;
    bool awaiting_reply = false;
    const std::regex line("\\s*[0-9.]+ (rx|tx|drop|fault|event|noise) ?(.*)");
    for (const std::string& entry : transcript) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(entry, m, line)) << entry;
        const std::string kind = m[1];
        ASSERT_NE(kind, "drop") << "a stray byte on the line: " << entry;
        if (kind == "rx") {
            ASSERT_FALSE(awaiting_reply) << "a request before the last one's reply: " << entry;
            awaiting_reply = m[2].str().find("(no reply)") == std::string::npos;
        } else if (kind == "tx") {
            ASSERT_TRUE(awaiting_reply) << "a reply without its request: " << entry;
            awaiting_reply = false;
            ++exchanges;
        }
    }
    EXPECT_GT(exchanges, requests.load()) << "each request at least one exchange, plus polling";
}

// Many programs connecting in the same instant (a lab's scripts started together) are each
// answered: the kernel holds them all until the server takes them. With a short queue it drops
// the handshakes beyond it; the clients retry a second later, and some are reset.
TEST(ServeLoad, ABurstOfConnectionsIsHeldUntilTheServerTakesThem) {
    constexpr int kBurst = 64;
    sim::Simulator sim(test_sim_options({1}));
    Served served(sim.slave_path(), {"--address", "1"});
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(served.port()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string request = "GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";

    // Frozen, the server takes no connection: every one of the burst waits in the kernel's
    // queue. A handshake on loopback completes within the connect call, or never while the
    // queue is full; the limit only bounds the wait when it is.
    std::vector<UniqueFd> sockets;
    std::string refused;  // why the burst stopped short
    served.signal(SIGSTOP);
    for (int i = 0; i < kBurst && refused.empty(); ++i) {
        UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const timeval limit{3, 0};
        const timeval reply_limit{10, 0};
        const std::string which =
            "connection " + std::to_string(i + 1) + " of " + std::to_string(kBurst);
        if (fd.get() < 0 ||
            setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0 ||
            setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &reply_limit, sizeof reply_limit) != 0) {
            refused = which + ": no socket";
        } else if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
            refused = which + " was not taken into the queue";
        } else if (::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL) !=
                   static_cast<ssize_t>(request.size())) {
            refused = which + ": the request was not sent";
        }
        sockets.push_back(std::move(fd));
    }
    served.signal(SIGCONT);
    ASSERT_EQ(refused, "");

    int answered = 0;
    for (const UniqueFd& fd : sockets) {
        std::string reply;
        char buffer[512];
        for (ssize_t got; (got = ::recv(fd.get(), buffer, sizeof buffer, 0)) > 0;) {
            reply.append(buffer, static_cast<std::size_t>(got));
        }
        if (reply.rfind("HTTP/1.1 200", 0) == 0) ++answered;
    }
    EXPECT_EQ(answered, kBurst);
}

}  // namespace
}  // namespace qk42rt::testing
