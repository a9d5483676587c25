#include "client/thread_host.h"

namespace veltra::thread_host_platform {

// Windows delivers console events on a thread of their own and has no fork.
void blockSignalsInThisThread() {}
void onFork(void (*)()) {}

}  // namespace veltra::thread_host_platform
