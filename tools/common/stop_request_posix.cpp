#include <pthread.h>
#include <signal.h>

#include "stop_request.h"

namespace qk42rt {
namespace {

sigset_t stop_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

StopRequest::StopRequest() {
    const sigset_t set = stop_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

void StopRequest::wait() const {
    const sigset_t set = stop_signals();
    int received = 0;
    sigwait(&set, &received);
}

// A signal sent to a thread that has it blocked stays pending until its sigwait.
void StopRequest::wake(std::thread& waiter) const {
    pthread_kill(waiter.native_handle(), SIGTERM);
}

}  // namespace qk42rt
