#include <windows.h>

#include "exports/call_lock.h"

namespace qk42rt {
namespace {

// Statically initialized and needing no clean-up: usable from the first call on, and still
// during DLL detach, without any thread library beside the DLL.
SRWLOCK g_call_lock = SRWLOCK_INIT;

}  // namespace

CallLock::CallLock() {
    AcquireSRWLockExclusive(&g_call_lock);
}
CallLock::~CallLock() {
    ReleaseSRWLockExclusive(&g_call_lock);
}

}  // namespace qk42rt
