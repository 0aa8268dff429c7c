// `monitor`: flow readings of chosen channels every interval, as a live table on a terminal,
// as CSV (or JSON lines) otherwise. Stops at --count or on Ctrl-C, after a whole sample. Rides
// out a line that goes away: keeps the schedule with empty rows and opens the line again.
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "commands/commands.h"
#include "subcommands.h"
#include "utc_time.h"

namespace qk42rt::cli {
namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t stop_requested = 0;

void request_stop(int) {
    stop_requested = 1;
}

bool stdout_is_terminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(STDOUT_FILENO) != 0;
#endif
}

#ifdef _WIN32
// Ctrl-C ends the loop instead of the process, for as long as this lives. (The C runtime
// turns Ctrl+C into SIGINT; Windows sends no SIGTERM.)
class StopOnSignals {
  public:
    StopOnSignals() {
        stop_requested = 0;
        old_int_ = std::signal(SIGINT, request_stop);
    }
    ~StopOnSignals() { std::signal(SIGINT, old_int_); }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

  private:
    void (*old_int_)(int) = nullptr;
};
#else
// Ctrl-C and SIGTERM end the loop instead of the process, for as long as this lives.
class StopOnSignals {
  public:
    StopOnSignals() {
        stop_requested = 0;
        struct sigaction action {};
        action.sa_handler = request_stop;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &old_int_);
        sigaction(SIGTERM, &action, &old_term_);
    }
    ~StopOnSignals() {
        sigaction(SIGINT, &old_int_, nullptr);
        sigaction(SIGTERM, &old_term_, nullptr);
    }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

  private:
    struct sigaction old_int_ {};
    struct sigaction old_term_ {};
};
#endif

enum class Format { live, csv, json_lines };

struct Sample {
    std::string time;  // UTC, ISO 8601 with milliseconds
    double elapsed_s = 0.0;
    std::vector<std::optional<commands::Reading>> readings;  // empty where the read failed
    bool line_down = false;                                  // taken while the line was gone
};

// How often a line that went away is opened again.
constexpr auto kReopenEvery = std::chrono::seconds(1);

std::string elapsed_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

class Monitor {
  public:
    Monitor(Session& session, std::vector<int> channels, Format format, bool reconnect)
        : s_(session), channels_(std::move(channels)), format_(format), reconnect_(reconnect) {}

    Sample take(Clock::time_point start) {
        reopen_if_due();
        Sample sample{utc_now(), std::chrono::duration<double>(Clock::now() - start).count(), {}};
        for (int channel : channels_) {
            if (down_) {
                sample.readings.emplace_back(std::nullopt);
                sample.line_down = true;
                continue;
            }
            const auto outcome = commands::read_flow(s_.line(), s_.address(), channel);
            if (outcome.ok()) {
                sample.readings.emplace_back(outcome.value());
                continue;
            }
            sample.readings.emplace_back(std::nullopt);
            failed_ = true;
            if (outcome.error().why == Failure::line_closed) {
                lost(outcome.error());
                sample.line_down = true;
                continue;
            }
            last_error_ = s_.failure_message("read flow of channel " + std::to_string(channel),
                                             outcome.error());
            // A live table would be torn by lines on the same terminal; it shows the error
            // itself and leaves stderr for the end.
            last_error_said_ = format_ != Format::live;
            if (last_error_said_) std::cerr << "qk42rt: " << last_error_ << '\n';
        }
        return sample;
    }

    void show(const Sample& sample) {
        switch (format_) {
            case Format::csv:
                show_csv(sample);
                break;
            case Format::json_lines:
                show_json(sample);
                break;
            case Format::live:
                show_live(sample);
                break;
        }
        s_.out().flush();
    }

    // Waits until `deadline`, opening a lost line again every second meanwhile; wakes often
    // enough to notice a stop request.
    void wait_until(Clock::time_point deadline) {
        while (!stop_requested && Clock::now() < deadline) {
            reopen_if_due();
            auto next = deadline;
            if (down_) next = std::min(next, next_attempt_);
            const auto left = next - Clock::now();
            std::this_thread::sleep_for(std::clamp<Clock::duration>(left, Clock::duration::zero(),
                                                                    std::chrono::milliseconds(50)));
        }
    }

    // The line went away and --no-reconnect asked to stop then.
    bool given_up() const { return down_ && !reconnect_; }

    // Exit status; a live table's last error goes to stderr once the table is done.
    int finish() {
        if (failed_ && !last_error_said_) std::cerr << "qk42rt: " << last_error_ << '\n';
        return failed_ ? 1 : 0;
    }

  private:
    void lost(const Error& error) {
        down_ = true;
        next_attempt_ = Clock::now() + kReopenEvery;
        std::string text = "lost the line " + s_.device() + ": " + describe(error);
        if (reconnect_) text += "; opening it again every second";
        say(text);
        last_error_ = text;
        last_error_said_ = true;
    }

    void reopen_if_due() {
        if (!down_ || !reconnect_ || Clock::now() < next_attempt_) return;
        next_attempt_ = Clock::now() + kReopenEvery;
        if (s_.reopen()) return;  // still gone; it was reported once
        down_ = false;
        say(s_.device() + " is back");
    }

    // A line on stderr about the line itself. A live table starts again below it, so the
    // redraw never climbs over the message.
    void say(const std::string& text) {
        s_.out().flush();
        std::cerr << "qk42rt: " << text << '\n';
        lines_shown_ = 0;
    }

    void show_csv(const Sample& sample) {
        if (!header_shown_) {
            s_.out() << "time,elapsed_s";
            for (int channel : channels_) s_.out() << ",flow" << channel << ",status" << channel;
            s_.out() << '\n';
            header_shown_ = true;
        }
        s_.out() << sample.time << ',' << elapsed_text(sample.elapsed_s);
        for (const auto& reading : sample.readings) {
            if (reading) {
                s_.out() << ',' << format_float(reading->value) << ',' << reading->status;
            } else {
                s_.out() << ",,";  // a failed reading leaves its cells empty
            }
        }
        s_.out() << '\n';
    }

    void show_json(const Sample& sample) {
        nlohmann::ordered_json channels = nlohmann::ordered_json::array();
        for (std::size_t i = 0; i < channels_.size(); ++i) {
            const auto& reading = sample.readings[i];
            Record cell{{"channel", channels_[i]}, {"flow", nullptr}, {"status", nullptr}};
            if (reading) {
                cell["flow"] = float_value(reading->value);
                cell["status"] = reading->status;
            }
            channels.push_back(std::move(cell));
        }
        // The seconds as the CSV column has them, to the millisecond.
        const std::string elapsed = elapsed_text(sample.elapsed_s);
        double seconds = 0.0;
        std::from_chars(elapsed.data(), elapsed.data() + elapsed.size(), seconds);
        Record line{
            {"time", sample.time}, {"elapsed_s", seconds}, {"channels", std::move(channels)}};
        if (sample.line_down) line["line_down"] = true;
        s_.out() << json_text(line) << '\n';
    }

    void show_live(const Sample& sample) {
        std::ostringstream table;
        table << "address " << s_.address() << " on " << s_.device() << "  " << sample.time
              << (sample.line_down ? "  LINE LOST, opening it again every second"
                                   : "  (Ctrl-C stops)")
              << "\n";
        std::vector<std::vector<std::string>> rows;
        for (std::size_t i = 0; i < channels_.size(); ++i) {
            const auto& reading = sample.readings[i];
            rows.push_back({std::to_string(channels_[i]),
                            reading ? format_float(reading->value) : "-",
                            reading ? std::to_string(reading->status) : "-"});
        }
        print_table(table, {"channel", "flow", "status"}, rows);
        table << (last_error_.empty() ? "" : "last error: " + last_error_) << '\n';

        // Redraw in place: back to the first line of the previous table, clearing each line.
        if (lines_shown_ > 0) s_.out() << "\x1b[" << lines_shown_ << "A";
        lines_shown_ = 0;
        std::string text = table.str();
        std::istringstream lines(text);
        for (std::string one; std::getline(lines, one); ++lines_shown_) {
            s_.out() << "\r" << one << "\x1b[K\n";
        }
    }

    Session& s_;
    std::vector<int> channels_;
    Format format_;
    bool reconnect_;
    bool down_ = false;
    Clock::time_point next_attempt_{};
    bool header_shown_ = false;
    int lines_shown_ = 0;
    bool failed_ = false;
    std::string last_error_;
    bool last_error_said_ = false;  // already on stderr
};

}  // namespace

Prepared prepare_monitor(const CommandLine& line) {
    std::vector<int> channels;
    for (const std::string& word : line.words) channels.push_back(parse_channel(word));
    if (channels.empty()) channels = {1, 2, 3, 4, 5, 6, 7, 8};
    const MonitorOptions options = line.monitor;
    Format format = Format::live;
    if (line.json) {
        format = Format::json_lines;
    } else if (options.csv || !stdout_is_terminal()) {
        format = Format::csv;
    }
    return {[channels, options, format](Session& s) {
                StopOnSignals signals;
                Monitor monitor(s, channels, format, options.reconnect);
                const auto start = Clock::now();
                const auto interval = std::chrono::milliseconds(options.interval_ms);
                for (long long taken = 0; !stop_requested;) {
                    monitor.show(monitor.take(start));
                    ++taken;
                    if (monitor.given_up()) break;
                    if (options.count > 0 && taken >= options.count) break;
                    monitor.wait_until(start + taken * interval);
                }
                return monitor.finish();
            },
            {}};
}

}  // namespace qk42rt::cli
