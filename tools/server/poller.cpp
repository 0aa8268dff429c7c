#include "poller.h"

namespace qk42rt::server {
namespace {

namespace cmd = qk42rt::commands;
using protocol::Line;

// Setpoints and on/off states change only when someone writes them: every tenth cycle.
constexpr int kSettingsEvery = 10;

}  // namespace

Poller::Poller(Context& context, std::chrono::milliseconds interval)
    : c_(context), interval_(interval) {
    thread_ = std::thread([this] { run(); });
}

Poller::~Poller() {
    {
        std::lock_guard lock(mutex_);
        jobs_->stopping = true;
    }
    wake_.notify_all();
    thread_.join();
}

void Poller::run() {
    auto next = std::chrono::steady_clock::now();
    for (long cycle = 0;; ++cycle) {
        // A cycle still waiting in the queue (a slow line, many clients) is not doubled; the
        // clients' own jobs never hold polling back.
        if (jobs_->queued == 0) post_cycle(cycle % kSettingsEvery == 0);
        next += interval_;
        std::unique_lock lock(mutex_);
        if (wake_.wait_until(lock, next, [this] { return jobs_->stopping.load(); })) return;
    }
}

void Poller::post_cycle(bool with_settings) {
    for (const int address : c_.instruments.addresses()) {
        // Counted out when the job is destroyed: after it ran, or when the worker dropped it
        // because the line was down.
        ++jobs_->queued;
        std::shared_ptr<void> counted_out(nullptr, [jobs = jobs_](void*) { --jobs->queued; });
        // The job holds no reference to the poller: it may run after the poller is gone.
        c_.worker.post([jobs = jobs_, &cache = c_.cache, &metrics = c_.metrics, address,
                        with_settings, counted_out](Line& line) -> JobResult {
            if (jobs->stopping) return std::nullopt;
            // The eight readings go to the subscribers together: one wake-up, not eight.
            std::vector<ChannelReading> readings;
            for (int channel = 1; channel <= 8; ++channel) {
                const auto flow =
                    timed(metrics, [&] { return cmd::read_flow(line, address, channel); });
                if (!flow.ok()) {
                    cache.readings(address, readings);
                    return flow.error();
                }
                const cmd::Reading& r = flow.value();
                readings.push_back(
                    {r.flagged_invalid ? std::nullopt : std::optional<float>(r.value), r.status,
                     utc_now()});
            }
            cache.readings(address, readings);
            if (!with_settings) return std::nullopt;
            for (int channel = 1; channel <= 8; ++channel) {
                const auto setpoint =
                    timed(metrics, [&] { return cmd::read_setpoint(line, address, channel); });
                if (!setpoint.ok()) return setpoint.error();
                cache.setpoint(address, channel, setpoint.value().value);
            }
            const auto state = timed(metrics, [&] { return cmd::read_on_off(line, address); });
            if (!state.ok()) return state.error();
            cache.on_off(address, state.value());
            return std::nullopt;
        });
    }
}

}  // namespace qk42rt::server
