#pragma once

#include <functional>

namespace veltra {

// The thread that owns a client's port objects and handles their events, and
// how a call reaches it. The default runs in the calling thread and spins
// its event loop while a call waits (a program with one thread, veltractl).
class ClientLoop {
public:
    virtual ~ClientLoop() = default;
    // Runs `f` in the port's thread and returns once it has run; what `f`
    // throws is thrown here.
    virtual void run(const std::function<void()>& f) = 0;
    // Returns once `ready` holds or about `maxMs` have passed. `ready` is
    // evaluated in the port's thread after each event it handled.
    virtual void wait(const std::function<bool()>& ready, int maxMs) = 0;
};
// Runs everything in the calling thread (a QCoreApplication must exist).
ClientLoop& callingThreadLoop();

}  // namespace veltra
