// Opening and closing lines, their reasons, reply time-out and trace.
#include <atomic>
#include <cstring>
#include <new>
#include <string>

#include "host/line_handle.h"
#include "port/open_port.h"

namespace qk42rt::host {
namespace {

// Why the last qk42_open on this thread failed: there is no line to ask.
thread_local std::string t_open_error;

size_t copy_out(const std::string& text, char* buf, size_t size) {
    if (buf != nullptr && size > 0) {
        const size_t n = text.size() < size - 1 ? text.size() : size - 1;
        std::memcpy(buf, text.data(), n);
        buf[n] = '\0';
    }
    return text.size();
}

}  // namespace

std::uint64_t this_thread_key() {
    static std::atomic<std::uint64_t> next{1};
    thread_local const std::uint64_t key = next++;
    return key;
}

qk42_line* adopt_line(std::unique_ptr<Port> port) {
    auto* line = new qk42_line;
    line->port = std::move(port);
    line->line.set_port(line->port.get());
    return line;
}

}  // namespace qk42rt::host

std::string& qk42_line::last_error() {
    return last_errors[qk42rt::host::this_thread_key()];
}

using qk42rt::host::t_open_error;

extern "C" {

qk42_status QK42_CALL qk42_open(const char* device, qk42_line** line) QK42_NOTHROW {
    if (line != nullptr) *line = nullptr;
    try {
        if (device == nullptr || line == nullptr) {
            t_open_error = "bad argument: a device string and a place for the line are needed";
            return QK42_BAD_ARGUMENT;
        }
        qk42rt::OpenResult opened = qk42rt::open_device(device);
        switch (opened.status) {
            case qk42rt::OpenStatus::opened:
                t_open_error.clear();
                *line = qk42rt::host::adopt_line(std::move(opened.port));
                return QK42_OK;
            case qk42rt::OpenStatus::bad_device:
                t_open_error = opened.reason;
                return QK42_BAD_ARGUMENT;
            case qk42rt::OpenStatus::settings_refused:
                t_open_error = "cannot use " + std::string(device) + ": " + opened.reason;
                return QK42_SETTINGS_REFUSED;
            case qk42rt::OpenStatus::cannot_open:
                break;
        }
        t_open_error = "cannot open " + std::string(device) + ": " + opened.reason;
        return QK42_CANNOT_OPEN;
    } catch (...) {
        return QK42_CANNOT_OPEN;  // out of memory
    }
}

void QK42_CALL qk42_close(qk42_line* line) QK42_NOTHROW {
    delete line;
}

size_t QK42_CALL qk42_last_error(qk42_line* line, char* buf, size_t size) QK42_NOTHROW {
    if (line == nullptr) return qk42rt::host::copy_out(t_open_error, buf, size);
    std::lock_guard lock(line->mutex);
    return qk42rt::host::copy_out(line->last_error(), buf, size);
}

qk42_status QK42_CALL qk42_set_reply_timeout(qk42_line* line, int milliseconds) QK42_NOTHROW {
    if (line == nullptr) return QK42_BAD_ARGUMENT;
    std::lock_guard lock(line->mutex);
    if (milliseconds < 50 || milliseconds > 10'000) {
        line->last_error() = "bad argument: the reply time-out must be 50 to 10000 ms, not " +
                             std::to_string(milliseconds);
        return QK42_BAD_ARGUMENT;
    }
    line->line.set_reply_timeout(std::chrono::milliseconds(milliseconds));
    line->last_error().clear();
    return QK42_OK;
}

void QK42_CALL qk42_set_trace(qk42_line* line, qk42_trace_fn trace, void* user) QK42_NOTHROW {
    if (line == nullptr) return;
    std::lock_guard lock(line->mutex);
    line->trace = trace;
    line->trace_user = user;
    if (trace == nullptr) {
        line->line.set_trace({});
        return;
    }
    line->line.set_trace(
        [line](const qk42rt::protocol::Request& request, const qk42rt::protocol::Reply& reply) {
            line->trace(line->trace_user, request.bytes.data(), request.size, reply.bytes.data(),
                        reply.size, reply.expected);
        });
}

}  // extern "C"
