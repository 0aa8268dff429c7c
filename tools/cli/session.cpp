#include "session.h"

#include "port/open_port.h"

namespace qk42rt::cli {

Session::Session(std::string device, std::unique_ptr<Port> port, int address, bool json,
                 std::ostream& out, protocol::TraceHook trace)
    : device_(std::move(device)),
      port_(std::move(port)),
      line_(port_.get(), std::move(trace)),
      address_(address),
      json_(json),
      out_(out) {}

Session Session::open(const std::string& device, int address, bool json, std::ostream& out,
                      protocol::TraceHook trace) {
    OpenResult opened = open_device(device);
    switch (opened.status) {
        case OpenStatus::opened:
            return Session(device, std::move(opened.port), address, json, out, std::move(trace));
        case OpenStatus::settings_refused:
            throw InstrumentFailure("cannot use " + device + ": " + opened.reason);
        case OpenStatus::bad_device:
            throw InstrumentFailure(opened.reason);
        case OpenStatus::cannot_open:
            break;
    }
    throw InstrumentFailure("cannot open " + device + ": " + opened.reason);
}

std::optional<std::string> Session::reopen() {
    line_.set_port(nullptr);
    port_.reset();  // a serial device is opened exclusively: let go of it first
    OpenResult opened = open_device(device_);
    if (opened.status != OpenStatus::opened) return opened.reason;
    port_ = std::move(opened.port);
    line_.set_port(port_.get());
    return std::nullopt;
}

std::string Session::failure_message(std::string_view operation, const Error& error) const {
    return std::string(operation) + " failed on " + device_ + ", address " +
           std::to_string(address_) + ": " + describe(error);
}

}  // namespace qk42rt::cli
