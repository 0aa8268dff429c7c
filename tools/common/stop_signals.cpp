#include "stop_signals.h"

#include <pthread.h>

namespace qk42rt {

sigset_t block_stop_signals() {
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return stop_signals;
}

}  // namespace qk42rt
