#include "sniff.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "conversation.h"
#include "link_file.h"
#include "port/open_port.h"
#include "printer.h"
#include "pty_master.h"
#include "sniff_report.h"

namespace qk42rt::wire {
namespace {

// A master reports a hang-up at once while no host has the slave open, so it is looked at
// every few milliseconds then instead of waited on (as the simulator does).
constexpr int kHungUpRecheckMs = 5;
// How long the device side waits in one read when nothing is due: how soon it sees a stop.
constexpr auto kDeviceReadLimit = std::chrono::milliseconds(200);

int ms_until(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

// SIGINT and SIGTERM as a descriptor to poll, blocked for as long as this lives (threads
// started meanwhile inherit the block).
class StopSignals {
  public:
    StopSignals() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set_, &old_);
        fd_ = UniqueFd(signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK));
    }
    ~StopSignals() {
        // Taken here, so that the signal that stopped the relay does not end the process once
        // it is unblocked.
        const timespec now{};
        while (sigtimedwait(&set_, nullptr, &now) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    int fd() const { return fd_.get(); }

  private:
    sigset_t set_{};
    sigset_t old_{};
    UniqueFd fd_;
};

class Sniffer {
  public:
    using Show = std::function<void(Seen)>;
    using Say = std::function<void(std::string)>;

    // `show` and `say` hand exchanges and events on; they must not wait on anything.
    Sniffer(std::unique_ptr<Port> port, PtyMaster master, Show show, Say event)
        : port_(std::move(port)),
          master_(std::move(master)),
          event_(std::move(event)),
          conversation_(std::move(show)) {}

    // Relays until a stop signal or the device goes away; true when the device went away.
    bool run(int signal_fd) {
        int pipe_fds[2];
        if (pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
        device_gone_read_ = UniqueFd(pipe_fds[0]);
        device_gone_write_ = UniqueFd(pipe_fds[1]);
        port_->clear_input();
        std::thread device([this] { device_side(); });
        host_side(signal_fd);
        stopping_ = true;
        device.join();
        const std::lock_guard lock(mutex_);
        conversation_.finish(Clock::now());
        return device_gone_;
    }

  private:
    // The host's side: the pseudo-terminal master, the stop signals and the device's end.
    // Bytes are noted before they are passed on, so that no answer to them can be noted first.
    void host_side(int signal_fd) {
        std::array<std::uint8_t, 512> buffer;
        for (;;) {
            const bool host_open = host_open_;
            int timeout = -1;
            {
                const std::lock_guard lock(mutex_);
                if (const auto due = conversation_.deadline()) timeout = ms_until(*due);
            }
            if (!host_open && (timeout < 0 || timeout > kHungUpRecheckMs)) {
                timeout = kHungUpRecheckMs;
            }
            pollfd fds[3] = {{signal_fd, POLLIN, 0},
                             {device_gone_read_.get(), POLLIN, 0},
                             {master_.fd(), POLLIN, 0}};
            const int ready = poll(fds, host_open ? 3 : 2, timeout);
            if (ready < 0 && errno != EINTR) return;
            if (fds[0].revents || fds[1].revents) return;
            if (!host_open) {
                watch_closed_line();
            } else if (fds[2].revents & POLLIN) {
                const ssize_t n = ::read(master_.fd(), buffer.data(), buffer.size());
                if (n > 0) {
                    const auto bytes = std::span(buffer.data(), static_cast<std::size_t>(n));
                    {
                        const std::lock_guard lock(mutex_);
                        conversation_.from_host(bytes, Clock::now());
                    }
                    port_->write(bytes);
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    hung_up();  // EIO: the host closed its last descriptor
                }
            } else if (fds[2].revents & (POLLHUP | POLLERR)) {
                hung_up();
            }
            const std::lock_guard lock(mutex_);
            conversation_.tick(Clock::now());
        }
    }

    void watch_closed_line() {
        pollfd line{master_.fd(), POLLIN, 0};
        if (poll(&line, 1, 0) < 0) return;
        // Data waiting means a host opened the line, even if it has closed it again since.
        if ((line.revents & POLLIN) || !(line.revents & POLLHUP)) {
            host_open_ = true;
            event_("line opened");
        }
    }

    void hung_up() {
        host_open_ = false;
        {
            const std::lock_guard lock(mutex_);
            conversation_.host_closed();
        }
        event_("line hung up");
    }

    // The device's side: whatever arrives is noted and goes to the host at once.
    void device_side() {
        std::array<std::uint8_t, 512> buffer;
        while (!stopping_) {
            auto limit = kDeviceReadLimit;
            {
                const std::lock_guard lock(mutex_);
                if (const auto due = conversation_.deadline()) {
                    limit = std::min(limit, std::chrono::milliseconds(ms_until(*due)));
                }
            }
            const std::size_t n = port_->read_some(buffer, limit);
            const auto now = Clock::now();
            if (n > 0) {
                const auto bytes = std::span(buffer.data(), n);
                {
                    const std::lock_guard lock(mutex_);
                    conversation_.from_device(bytes, now);
                }
                // With no host on the line the bytes would wait in the pseudo-terminal for
                // whoever opens it next; they are only listened to.
                if (host_open_) master_.write_all(bytes);
            } else if (port_->hung_up()) {
                device_gone_ = true;
                const char wake = 1;
                const ssize_t ignored = ::write(device_gone_write_.get(), &wake, 1);
                (void)ignored;
                return;
            }
            const std::lock_guard lock(mutex_);
            conversation_.tick(Clock::now());
        }
    }

    std::unique_ptr<Port> port_;
    PtyMaster master_;
    Say event_;
    std::mutex mutex_;  // the conversation
    Conversation conversation_;
    std::atomic<bool> host_open_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> device_gone_{false};
    UniqueFd device_gone_read_;
    UniqueFd device_gone_write_;
};

}  // namespace

int sniff(const SniffOptions& options, std::ostream& out, std::ostream& err) {
    OpenResult opened = open_device(options.device);
    if (opened.status != OpenStatus::opened) {
        err << "qk42rt: cannot open " << options.device << ": " << opened.reason << "\n";
        return 1;
    }
    std::optional<Recorder> recorder;
    if (!options.record.empty()) recorder.emplace(options.record);  // throws with the reason
    PtyMaster master = PtyMaster::open();
    const std::string slave = master.slave_path();
    point_link(options.link, slave);

    bool device_gone = false;
    Summary summary;  // the printer's alone until it has stopped
    {
        StopSignals signals;
        Printer printer;
        const bool json = options.json;
        Recorder* const record = recorder ? &*recorder : nullptr;
        const auto say = [&printer, &out](std::string line) {
            printer.post([&out, line = std::move(line)] { out << line << '\n' << std::flush; });
        };
        const auto show = [&printer, &out, &summary, json, record](Seen seen) {
            printer.post([&out, &summary, json, record, seen = std::move(seen)]() mutable {
                judge(seen);
                summary.add(seen);
                out << (json ? seen_json(seen) : seen_line(seen)) << '\n' << std::flush;
                if (const auto recorded = seen_record(seen); recorded && record) {
                    record->write(*recorded);
                }
            });
        };
        const auto event = [&say, json](std::string what) {
            if (json) {
                say(nlohmann::json{{"time", utc_text(std::chrono::system_clock::now())},
                                   {"event", what}}
                        .dump());
            } else {
                // The simulator's words, so that what watches a simulator for them can watch this.
                say("event: " + what);
            }
        };
        say(json ? nlohmann::json{{"slave", slave}, {"link", options.link}}.dump()
                 : "slave: " + slave);
        Sniffer sniffer(std::move(opened.port), std::move(master), show, event);
        try {
            device_gone = sniffer.run(signals.fd());
        } catch (...) {
            remove_link(options.link, slave);
            throw;
        }
    }
    const std::string text = summary.text();
    remove_link(options.link, slave);
    if (device_gone) {
        err << "qk42rt: the device " << options.device
            << " went away (hung up, or the server closed the connection)\n";
    }
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        err << "qk42rt sniff: " << text.substr(start, end - start) << "\n";
    }
    return device_gone ? 1 : 0;
}

}  // namespace qk42rt::wire
