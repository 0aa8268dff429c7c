// A qk42_line over the in-memory port, for byte-exact tests of the host interface.
#pragma once

#include <memory>

#include "host/line_handle.h"
#include "qk42.h"
#include "support/scripted_port.h"

namespace qk42rt::testing {

class ScriptedLine {
  public:
    ScriptedLine() : line_(host::adopt_line(std::make_unique<BorrowedPort>(port_))) {}
    ~ScriptedLine() { qk42_close(line_); }
    ScriptedLine(const ScriptedLine&) = delete;
    ScriptedLine& operator=(const ScriptedLine&) = delete;

    qk42_line* get() const { return line_; }
    ScriptedPort& port() { return port_; }
    std::string last_error() const {
        char text[256];
        qk42_last_error(line_, text, sizeof text);
        return text;
    }

  private:
    ScriptedPort port_;
    qk42_line* line_;
};

}  // namespace qk42rt::testing
