#include <mutex>

#include "host/line_lock.h"

namespace qk42rt::host {

struct LineLock::State {
    std::mutex mutex;
};

LineLock::LineLock() : state_(std::make_unique<State>()) {}
LineLock::~LineLock() = default;

void LineLock::lock() {
    state_->mutex.lock();
}

void LineLock::unlock() {
    state_->mutex.unlock();
}

}  // namespace qk42rt::host
