#include "session.h"

#include <cerrno>
#include <cstring>

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
    errno = 0;
    OpenResult opened = open_serial_device(device);
    const int open_errno = errno;
    switch (opened.status) {
        case OpenStatus::opened:
            return Session(device, std::move(opened.port), address, json, out, std::move(trace));
        case OpenStatus::settings_refused:
            throw InstrumentFailure("cannot use " + device +
                                    ": it opened but refused the serial line settings "
                                    "(is it a serial device?)");
        case OpenStatus::cannot_open:
            break;
    }
    std::string reason = "no such device, or another program holds it";
    if (open_errno == EWOULDBLOCK) {
        reason = "another program holds it";
    } else if (open_errno != 0) {
        reason = std::strerror(open_errno);
    }
    throw InstrumentFailure("cannot open " + device + ": " + reason);
}

std::string Session::failure_message(std::string_view operation, const Error& error) const {
    return std::string(operation) + " failed on " + device_ + ", address " +
           std::to_string(address_) + ": " + describe(error);
}

}  // namespace qk42rt::cli
