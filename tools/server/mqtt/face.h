// The MQTT face of `qk42rt serve`: publishes every line's state on the broker as it changes
// (flows after every poll, settings when they change, each line's status), takes commands
// and API requests from it, and publishes everything again whenever it reconnects. Commands
// and requests run through the same route table as HTTP, one line's after another on a
// thread of that line, so that a slow line holds back no other.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "api.h"
#include "job_queue.h"
#include "mqtt_client.h"
#include "router.h"
#include "served_line.h"
#include "topics.h"

namespace qk42rt::server::mqtt {

struct FaceOptions {
    ConnectOptions connection;  // its will is set from `base`
    std::string base;
    bool discovery = false;
    bool read_only = false;
};

class Face {
  public:
    Face(FaceOptions options, const ApiScope& scope);
    ~Face();  // a clean stop: B/status offline, then disconnect
    Face(const Face&) = delete;
    Face& operator=(const Face&) = delete;

    // Starts connecting; the error when the client cannot be set up.
    std::optional<std::string> start();

  private:
    void on_connect();
    void on_message(const Message& message);
    void run_command(const Command& command, const Message& message);
    void run_request(const std::string& line, const Message& message);
    void publish_loop(std::stop_token stop);
    void publish_everything();
    void publish_discovery();
    void publish_state(const std::string& topic, const std::string& payload);
    // The answer already given to this request, within the last minute.
    std::optional<std::string> answered_before(const std::string& key);
    void remember(const std::string& key, const std::string& answer);

    const FaceOptions options_;
    const ApiScope& scope_;
    Router router_;  // the API as HTTP serves it, without the token: the broker decides who
    std::map<std::string, std::unique_ptr<JobQueue>> queues_;  // by line
    std::atomic<bool> republish_{false};
    std::atomic<bool> rediscover_{false};
    std::mutex answers_mutex_;
    std::map<std::string, std::pair<std::chrono::steady_clock::time_point, std::string>> answers_;
    std::unique_ptr<Client> client_;
    std::jthread publisher_;
};

}  // namespace qk42rt::server::mqtt
