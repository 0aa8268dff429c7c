#include <windows.h>

#include "host/line_lock.h"

namespace qk42rt::host {

struct LineLock::State {
    SRWLOCK lock = SRWLOCK_INIT;
};

LineLock::LineLock() : state_(std::make_unique<State>()) {}
LineLock::~LineLock() = default;

void LineLock::lock() {
    AcquireSRWLockExclusive(&state_->lock);
}

void LineLock::unlock() {
    ReleaseSRWLockExclusive(&state_->lock);
}

}  // namespace qk42rt::host
