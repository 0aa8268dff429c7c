// One line naming the machine a run was made on.
#pragma once

#include <string>

namespace qk42rt::bench {

// "N cores (nproc), CPU model, kernel release".
std::string describe_machine();

}  // namespace qk42rt::bench
