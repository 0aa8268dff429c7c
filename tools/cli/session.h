// An open line to one instrument: the port, the library's Line over it, and what an error
// message needs to say (which device, which address).
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "commands/commands.h"
#include "port/port.h"
#include "protocol/exchange.h"
#include "protocol/outcome.h"

namespace qk42rt::cli {

// The instrument or the port failed (exit 1). The message is complete, ready for stderr.
class InstrumentFailure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class Session {
  public:
    Session(std::string device, std::unique_ptr<Port> port, int address, bool json,
            std::ostream& out, protocol::TraceHook trace = {});

    // Opens `device` with the library's line settings; InstrumentFailure when it cannot.
    static Session open(const std::string& device, int address, bool json, std::ostream& out,
                        protocol::TraceHook trace = {});

    protocol::Line& line() { return line_; }
    int address() const { return address_; }
    const std::string& device() const { return device_; }
    bool json() const { return json_; }
    std::ostream& out() { return out_; }

    // Opens the same device string again in place of the old line (after a hang-up or a
    // dropped connection). Empty on success, otherwise why not.
    std::optional<std::string> reopen();

    // "read flow of channel 2 failed on /dev/pts/3, address 1: no reply: ..."
    std::string failure_message(std::string_view operation, const Error& error) const;

    // The value of a successful operation; InstrumentFailure naming the operation otherwise.
    // Returned by value: callers pass the outcome as a temporary.
    template <class T>
    T need(const Outcome<T>& outcome, std::string_view operation) const {
        if (!outcome.ok()) throw InstrumentFailure(failure_message(operation, outcome.error()));
        return outcome.value();
    }

  private:
    std::string device_;
    std::unique_ptr<Port> port_;
    protocol::Line line_;
    int address_;
    bool json_;
    std::ostream& out_;
};

}  // namespace qk42rt::cli
