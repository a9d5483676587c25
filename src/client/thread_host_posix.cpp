#include "client/thread_host.h"

#include <pthread.h>

#include <csignal>

namespace veltra::thread_host_platform {

// Signals are the caller's: Python's handlers run in its main thread, and a
// C program's handlers in whichever thread it chose.
void blockSignalsInThisThread() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
}

void onFork(void (*child)()) {
    static const int registered = pthread_atfork(nullptr, nullptr, child);
    (void)registered;
}

}  // namespace veltra::thread_host_platform
