// Makes a scripted port the library's held port, so the C functions run byte-exact in memory.
#pragma once

#include <memory>

#include "port/held_port.h"
#include "support/scripted_port.h"

namespace qk42rt::testing {

struct HeldScriptedPort {
    ScriptedPort port;
    HeldScriptedPort() { held_port::adopt(std::make_unique<BorrowedPort>(port)); }
    ~HeldScriptedPort() { held_port::close(); }
};

}  // namespace qk42rt::testing
