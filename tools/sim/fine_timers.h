// Sleeps to the microsecond for the paced line, whose bytes are about a millisecond apart.
#pragma once

namespace qk42rt::sim {

// Asks the system for its finest sleep timing, for the calling thread (Linux: no timer slack)
// or the process (Windows: 1 ms timer resolution).
void use_fine_timers();

}  // namespace qk42rt::sim
