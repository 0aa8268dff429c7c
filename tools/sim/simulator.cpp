#include "simulator.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <variant>

#include "faults.h"
#include "fine_timers.h"
#include "instrument_model.h"
#include "link_file.h"
#include "port/device_string.h"
#include "protocol/command_table.h"
#include "protocol/request_framer.h"
#include "protocol/text.h"
#include "pty_master.h"
#include "socket_io.h"
#include "tcp_listener.h"
#include "transcript.h"

namespace qk42rt::sim {
namespace {

using Clock = std::chrono::steady_clock;

// How often the line is looked at while no host has it open: a master reports a hang-up at
// once while no slave is open, so it cannot simply be waited on.
constexpr int kHungUpRecheckMs = 5;
// One byte of 8N1 at 9600 baud: ten bits.
constexpr auto kByteTime = std::chrono::microseconds(1042);

Options checked(Options options) {
    if (options.addresses.empty()) throw std::invalid_argument("no instrument address");
    if (!options.pty && options.tcp_listen.empty()) {
        throw std::invalid_argument("neither a pseudo-terminal nor a TCP listener to serve on");
    }
    for (const int address : options.addresses) {
        if (address < 1 || address > 8) {
            throw std::invalid_argument("instrument address " + std::to_string(address) +
                                        " is outside 1 to 8");
        }
    }
    if (!std::isfinite(options.time_constant_s) || options.time_constant_s < 0.0) {
        throw std::invalid_argument("the time constant must be 0 or more seconds");
    }
    if (!std::isfinite(options.noise) || options.noise < 0.0) {
        throw std::invalid_argument("the noise must be 0 or more");
    }
    if (options.turnaround_ms < 0 || options.turnaround_ms > 60'000) {
        throw std::invalid_argument("the turnaround must be 0 to 60000 ms");
    }
    return options;
}

}  // namespace

struct Simulator::Impl {
    // Where a request came from, and so where its reply goes.
    enum class Side { pty, tcp };

    explicit Impl(Options opts);
    ~Impl();

    void run();
    void watch_hung_up_line();
    void read_line();
    void read_client();
    void accept_client();
    void drop_client(const std::string& why);
    void take_bytes(std::span<const std::uint8_t> bytes, Side side);
    void report_drops(protocol::RequestFramer& framer);
    void handle(const std::vector<std::uint8_t>& request, Side side);
    void respond(const std::vector<std::uint8_t>& request, Side side, ExchangeTiming& timing);
    // Paced, the first byte is due one byte time after `line_free` (when the line is idle).
    void send(const std::vector<std::uint8_t>& bytes, Clock::time_point line_free, Side side,
              ExchangeTiming& timing);
    double since_start() const;
    void hang_up(Side side);
    void hang_up_line();
    void line_opened();
    void line_hung_up();
    void count_open();
    void count_hang_up();
    bool pause(int ms);  // false when the simulator is stopping
    void log(std::string_view what, std::string_view text);
    void event(const std::string& text);
    InstrumentModel& model(int address);

    Options options;
    const Clock::time_point start = Clock::now();

    mutable std::mutex mutex;  // models, faults, counters
    mutable std::condition_variable changed;
    std::map<int, InstrumentModel> models;
    FaultBook faults;
    Counters counters;

    std::mutex line_mutex;  // writes to the master and the client, and their replacement
    std::optional<PtyMaster> master;
    std::list<std::string> paths;  // every slave path so far, so references stay valid
    std::atomic<const std::string*> current_path{nullptr};
    std::optional<TcpListener> listener;
    UniqueSocket client;  // the one TCP client served at a time

    // The serving thread's own state.
    protocol::RequestFramer framer;
    protocol::RequestFramer tcp_framer;
    bool host_open = false;

    Wakeup wakeup;  // ends the serving thread's waits
    std::atomic<bool> stopping{false};
    std::thread thread;
};

Simulator::Impl::Impl(Options opts) : options(checked(std::move(opts))) {
    const ModelSettings settings{options.time_constant_s, options.noise, options.noise_seed};
    for (const int address : options.addresses) {
        ModelSettings own = settings;
        own.noise_seed = settings.noise_seed + static_cast<std::uint32_t>(address);
        models.try_emplace(address, own, start);
    }
    if (options.pty) {
        master = PtyMaster::open();
        paths.push_back(master->slave_path());
        if (!options.link_path.empty()) point_link(options.link_path, master->slave_path());
    } else {
        paths.emplace_back();
    }
    current_path = &paths.back();
    if (!options.tcp_listen.empty()) {
        const auto parsed = parse_host_port(options.tcp_listen, true);
        if (const auto* error = std::get_if<DeviceStringError>(&parsed)) {
            throw std::invalid_argument("--tcp: " + error->message);
        }
        const auto& where = std::get<HostPort>(parsed);
        listener = TcpListener::open(where.host, where.port);
    }

    thread = std::thread([this] { run(); });
}

Simulator::Impl::~Impl() {
    stopping = true;
    wakeup.wake();
    if (thread.joinable()) thread.join();
    if (master && !options.link_path.empty()) remove_link(options.link_path, *current_path.load());
}

void Simulator::Impl::run() {
    if (options.pace_9600) use_fine_timers();
    while (!stopping) {
        // A master reports a hang-up at once while no host has the slave open, so it is
        // looked at every few milliseconds then instead of waited on.
        const bool watch_pty = master && !host_open;
        pollfd fds[4] = {{wakeup.handle(), POLLIN, 0}};
        std::size_t count = 1;
        const std::size_t pty_at = master && host_open ? count++ : 0;
        if (pty_at) fds[pty_at] = {static_cast<SocketHandle>(master->fd()), POLLIN, 0};
        const std::size_t listener_at = listener && !client.valid() ? count++ : 0;
        if (listener_at) fds[listener_at] = {listener->handle(), POLLIN, 0};
        const std::size_t client_at = client.valid() ? count++ : 0;
        if (client_at) fds[client_at] = {client.get(), POLLIN, 0};
        if (poll_sockets(fds, count, watch_pty ? kHungUpRecheckMs : -1) < 0 &&
            !socket_call_would_block()) {
            return;
        }
        if (fds[0].revents) return;
        if (watch_pty) watch_hung_up_line();
        if (pty_at && (fds[pty_at].revents & POLLIN)) {
            read_line();
        } else if (pty_at && (fds[pty_at].revents & (POLLHUP | POLLERR))) {
            line_hung_up();
        }
        if (listener_at && fds[listener_at].revents) accept_client();
        if (client_at && fds[client_at].revents) read_client();
    }
}

void Simulator::Impl::watch_hung_up_line() {
    if (master->host_has_opened()) line_opened();
}

void Simulator::Impl::read_line() {
    std::uint8_t buffer[256];
    const auto n = master->read_some(buffer);
    if (n == 0) return;
    if (n < 0) {  // the last host descriptor on the slave was closed
        line_hung_up();
        return;
    }
    take_bytes(std::span(buffer, static_cast<std::size_t>(n)), Side::pty);
}

void Simulator::Impl::accept_client() {
    std::string peer;
    UniqueSocket accepted = listener->accept_client(peer);
    if (!accepted.valid()) return;
    {
        std::lock_guard lock(line_mutex);
        client = std::move(accepted);
    }
    tcp_framer = protocol::RequestFramer{};
    event("tcp client connected from " + peer);
    count_open();
}

void Simulator::Impl::read_client() {
    std::uint8_t buffer[256];
    const auto n = ::recv(client.get(), reinterpret_cast<char*>(buffer), sizeof buffer, 0);
    if (n < 0 && socket_call_would_block()) return;
    if (n <= 0) {
        drop_client("tcp client left");
        count_hang_up();
        return;
    }
    take_bytes(std::span(buffer, static_cast<std::size_t>(n)), Side::tcp);
}

void Simulator::Impl::drop_client(const std::string& why) {
    {
        std::lock_guard lock(line_mutex);
        client = UniqueSocket{};
    }
    tcp_framer = protocol::RequestFramer{};
    event(why);
}

void Simulator::Impl::take_bytes(std::span<const std::uint8_t> bytes, Side side) {
    protocol::RequestFramer& own = side == Side::pty ? framer : tcp_framer;
    for (std::size_t i = 0; i < bytes.size() && !stopping; ++i) {
        if (!own.feed(bytes[i])) continue;
        report_drops(own);
        // Copied: a hang-up fault resets the framer the request lives in.
        const std::vector<std::uint8_t> request = own.request();
        handle(request, side);
        if (side == Side::tcp && !client.valid()) return;  // the fault closed the connection
    }
    report_drops(own);
}

// Dropped bytes are reported in runs, before the request that follows them.
void Simulator::Impl::report_drops(protocol::RequestFramer& from) {
    const auto dropped = from.take_dropped();
    if (dropped.empty()) return;
    log("drop", protocol::hex_bytes(dropped));
    std::lock_guard lock(mutex);
    counters.dropped += dropped.size();
}

void Simulator::Impl::handle(const std::vector<std::uint8_t>& request, Side side) {
    ExchangeTiming timing;
    timing.request_s = since_start();
    timing.reply_start_s = timing.reply_end_s = timing.request_s;
    timing.request_bytes = request.size();
    respond(request, side, timing);
    if (options.on_exchange && !stopping) options.on_exchange(timing);
}

void Simulator::Impl::respond(const std::vector<std::uint8_t>& request, Side side,
                              ExchangeTiming& timing) {
    const int address = protocol::address_of(request[0]);
    std::optional<std::vector<std::uint8_t>> reply;
    std::optional<FaultRule> fault;
    Answer answer;
    {
        std::lock_guard lock(mutex);
        ++counters.requests;
        if (options.responder) {
            answer = options.responder(request);
            if (!answer.bytes.empty()) reply = answer.bytes;
        } else if (auto found = models.find(address); found != models.end()) {
            reply = found->second.answer(request, Clock::now());
        }
        if (reply) fault = faults.draw(static_cast<std::uint8_t>(protocol::code_of(request[0])));
        if (fault) ++counters.faults;
    }
    if (!reply) {
        log("rx", protocol::hex_bytes(request) + "  (" +
                      (answer.note.empty() ? "no reply" : answer.note) + ")");
        return;
    }
    log("rx",
        protocol::hex_bytes(request) + (answer.note.empty() ? "" : "  (" + answer.note + ")"));
    if (fault) log("fault", fault_name(fault->kind));

    const ReplyPlan plan = plan_reply(*reply, fault ? &*fault : nullptr);
    if (plan.hang_up) {
        hang_up(side);
        return;
    }
    if (plan.steps.empty()) return;
    // On a real line the request is still arriving for ten bit-times a byte; the pseudo-
    // terminal delivers it at once, so a paced instrument answers only after that time.
    const Clock::time_point request_end =
        Clock::now() + kByteTime * static_cast<int>(request.size());
    if (!pause(options.turnaround_ms + answer.delay_ms)) return;
    for (const ReplyStep& step : plan.steps) {
        if (!pause(step.delay_ms)) return;
        send(step.bytes, std::max(request_end, Clock::now()), side, timing);
    }
    std::lock_guard lock(mutex);
    ++counters.replies;
    changed.notify_all();
}

void Simulator::Impl::send(const std::vector<std::uint8_t>& bytes, Clock::time_point line_free,
                           Side side, ExchangeTiming& timing) {
    if (bytes.empty()) return;
    log("tx", protocol::hex_bytes(bytes));
    std::lock_guard lock(line_mutex);
    const auto write = [&](std::span<const std::uint8_t> part) {
        if (side == Side::pty) {
            master->write_all(part);
        } else if (client.valid()) {
            send_all(client.get(), part);
        }
        timing.reply_end_s = since_start();
        if (timing.reply_bytes == 0) timing.reply_start_s = timing.reply_end_s;
        timing.reply_bytes += part.size();
    };
    if (!options.pace_9600) {
        write(bytes);
        return;
    }
    // Each byte reaches the host when its last bit has: one byte time after the previous.
    auto due = line_free;
    for (const std::uint8_t byte : bytes) {
        due += kByteTime;
        std::this_thread::sleep_until(due);
        write(std::span(&byte, 1));
    }
}

void Simulator::Impl::hang_up(Side side) {
    if (side == Side::tcp) {
        drop_client("tcp connection closed by the simulator");
        return;
    }
    hang_up_line();
}

// The host sees the hang-up when the old master closes; by then the new slave path and the
// link are in place, so a host that reopens finds the new line at once.
void Simulator::Impl::hang_up_line() {
    try {
        PtyMaster fresh = PtyMaster::open();
        if (!options.link_path.empty()) point_link(options.link_path, fresh.slave_path());
        paths.push_back(fresh.slave_path());
        current_path = &paths.back();
        std::lock_guard lock(line_mutex);
        std::swap(*master, fresh);
    } catch (const std::exception& e) {
        event(std::string("cannot hang up the line: ") + e.what());
        return;
    }
    framer = protocol::RequestFramer{};
    host_open = false;
    event("line hung up by the simulator; slave: " + *current_path.load());
}

void Simulator::Impl::line_opened() {
    host_open = true;
    event("line opened");
    count_open();
}

void Simulator::Impl::line_hung_up() {
    host_open = false;
    event("line hung up");
    count_hang_up();
}

// Events are reported before they are counted, so that whoever waits on a count has seen the
// event too.
void Simulator::Impl::count_open() {
    std::lock_guard lock(mutex);
    ++counters.opens;
    changed.notify_all();
}

void Simulator::Impl::count_hang_up() {
    std::lock_guard lock(mutex);
    ++counters.hangups;
    changed.notify_all();
}

bool Simulator::Impl::pause(int ms) {
    if (ms <= 0) return !stopping;
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!stopping) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) break;
        pollfd stop{wakeup.handle(), POLLIN, 0};
        poll_sockets(&stop, 1, static_cast<int>(left));
    }
    return !stopping;
}

double Simulator::Impl::since_start() const {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void Simulator::Impl::log(std::string_view what, std::string_view text) {
    if (options.transcript) options.transcript(transcript_line(Clock::now() - start, what, text));
}

void Simulator::Impl::event(const std::string& text) {
    log("event", text);
    if (options.on_event) options.on_event(text);
}

InstrumentModel& Simulator::Impl::model(int address) {
    auto found = models.find(address);
    if (found == models.end()) {
        throw std::out_of_range("no simulated instrument at address " + std::to_string(address));
    }
    return found->second;
}

Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() = default;

const std::string& Simulator::slave_path() const {
    return *impl_->current_path.load();
}

const std::string& Simulator::tcp_address() const {
    static const std::string none;
    return impl_->listener ? impl_->listener->address() : none;
}

InstrumentState Simulator::state(int address) const {
    std::lock_guard lock(impl_->mutex);
    InstrumentModel& model = impl_->model(address);
    model.advance(Clock::now());
    return model.state();
}

void Simulator::update(int address, const std::function<void(InstrumentState&)>& change) {
    std::lock_guard lock(impl_->mutex);
    InstrumentModel& model = impl_->model(address);
    model.advance(Clock::now());
    change(model.state());
}

void Simulator::add_fault(const FaultRule& rule) {
    std::lock_guard lock(impl_->mutex);
    impl_->faults.add(rule);
}

void Simulator::clear_faults() {
    std::lock_guard lock(impl_->mutex);
    impl_->faults.clear();
}

void Simulator::send_noise(const std::vector<std::uint8_t>& bytes) {
    impl_->log("noise", protocol::hex_bytes(bytes));
    std::lock_guard lock(impl_->line_mutex);
    if (impl_->master) impl_->master->write_all(bytes);
    if (impl_->client.valid()) send_all(impl_->client.get(), bytes);
}

Counters Simulator::counters() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->counters;
}

bool Simulator::wait_for_hangups(std::uint64_t count, int timeout_ms) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                   [&] { return impl_->counters.hangups >= count; });
}

}  // namespace qk42rt::sim
