#include <timeapi.h>
#include <windows.h>

#include "fine_timers.h"

namespace qk42rt::sim {

// Windows wakes sleepers on its timer tick, 15.6 ms by default: far coarser than a byte time.
void use_fine_timers() {
    timeBeginPeriod(1);
}

}  // namespace qk42rt::sim
