#include "served_line.h"

#include <iostream>

namespace qk42rt::server {
namespace {

namespace cmd = qk42rt::commands;

// How long a start without addresses waits for the line before serving address 1 alone.
constexpr auto kScanWait = std::chrono::seconds(5);

void log(const LineOptions& line, const std::string& message) {
    std::cerr << "qk42rt serve: " << (line.name == "line1" ? "" : line.name + ": ") << message
              << '\n';
}

// The addresses to serve: those given, or those that answer a version request (at least 1).
std::vector<int> find_instruments(const LineOptions& options, LineWorker& worker, Metrics& metrics,
                                  std::map<int, cmd::Version>& versions) {
    std::vector<int> candidates = options.addresses;
    const bool scanning = candidates.empty();
    if (scanning) candidates = {1, 2, 3, 4, 5, 6, 7, 8};
    if (!worker.wait_until_up(std::chrono::duration_cast<std::chrono::milliseconds>(kScanWait))) {
        log(options, "the line is not up (" + worker.state().reason + "); serving " +
                         (scanning ? "address 1" : "the addresses given") + " until it is");
        return scanning ? std::vector<int>{1} : candidates;
    }
    if (scanning) log(options, "asking addresses 1 to 8 for their version");
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

}  // namespace

ServedLine::ServedLine(const LineOptions& options, std::shared_ptr<EventHub> hub,
                       const std::atomic<bool>& stopping)
    : options_(options),
      stopping_(stopping),
      cache_(options.name, std::move(hub)),
      worker_(options.device, [this](const LineState& state) {
          metrics_.set_line_up(state.up);
          cache_.line(state.up, state.reason);
          log(options_, options_.device + (state.up ? " is open" : " is down: " + state.reason));
      }) {}

ServedLine::~ServedLine() {
    poller_.reset();
}

void ServedLine::start() {
    std::map<int, cmd::Version> versions;
    instruments_ =
        std::make_unique<Instruments>(find_instruments(options_, worker_, metrics_, versions));
    for (const auto& [address, version] : versions) instruments_->set_version(address, version);
    context_ =
        std::make_unique<Context>(Context{worker_, cache_, metrics_, *instruments_, stopping_});
    poller_ =
        std::make_unique<Poller>(*context_, std::chrono::milliseconds(options_.poll_interval_ms));
}

ServedLine* find_line(const ServedLines& lines, std::string_view name) {
    for (const auto& line : lines) {
        if (line->name() == name) return line.get();
    }
    return nullptr;
}

}  // namespace qk42rt::server
