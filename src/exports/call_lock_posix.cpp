#include <mutex>

#include "exports/call_lock.h"

namespace qk42rt {
namespace {

std::mutex g_call_mutex;  // trivially destructible on glibc: usable during process exit

}  // namespace

CallLock::CallLock() {
    g_call_mutex.lock();
}
CallLock::~CallLock() {
    g_call_mutex.unlock();
}

}  // namespace qk42rt
