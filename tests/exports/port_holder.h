// Runs the port-holder program (see port_holder.cpp) on `device` and returns its exit
// status, or -1 when it could not be started or did not exit normally.
#pragma once

#include <string>

namespace qk42rt::testing {

int run_port_holder(const std::string& device);

}  // namespace qk42rt::testing
