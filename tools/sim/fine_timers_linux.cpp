#include <sys/prctl.h>

#include "fine_timers.h"

namespace qk42rt::sim {

// Byte times of about a millisecond want wake-ups to the microsecond, not the default 50 µs
// of timer slack.
void use_fine_timers() {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

}  // namespace qk42rt::sim
