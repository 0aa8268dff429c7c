// The programs of the wire tests as processes: the simulator, `qk42rt sniff` in front of it,
// and hosts on the sniffer's line.
#pragma once

#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace qk42rt::testing {

inline const std::string kClient = QK42RT_CLIENT_PATH;
inline const std::string kSimulator = QK42RT_SIM_PROGRAM;

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A fresh directory for links and files, removed at the end.
class TempDir {
  public:
    TempDir() {
        char name[] = "/tmp/qk42rt-wire-XXXXXX";
        path_ = mkdtemp(name) ? name : "";
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A program that prints a first line once it is ready ("slave: ..."), stopped with SIGINT.
class Started {
  public:
    Started(const std::string& program, const std::vector<std::string>& args, std::size_t lines = 1)
        : child_(std::make_unique<ChildProcess>(program, args)) {
        ready_ = child_->wait_for_lines(lines, 5000);
    }
    bool ready() const { return ready_; }
    ChildProcess& child() { return *child_; }
    Finished stop(int signal = SIGINT) {
        child_->send_signal(signal);
        return child_->finish(10'000);
    }

  private:
    std::unique_ptr<ChildProcess> child_;
    bool ready_ = false;
};

// The JSON lines of a --json sniff that are exchanges.
inline std::vector<nlohmann::json> exchanges_of(const std::string& out) {
    std::vector<nlohmann::json> exchanges;
    for (const std::string& line : lines_of(out)) {
        const auto json = nlohmann::json::parse(line, nullptr, false);
        if (!json.is_discarded() && json.contains("request")) exchanges.push_back(json);
    }
    return exchanges;
}

inline std::vector<std::string> kinds_of(const nlohmann::json& seen) {
    std::vector<std::string> kinds;
    for (const auto& flag : seen["flags"]) kinds.push_back(flag["kind"]);
    return kinds;
}

}  // namespace qk42rt::testing
