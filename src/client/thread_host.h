#pragma once

#include "client/client_loop.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

class QAbstractEventDispatcher;
class QThread;

namespace veltra {

class Client;

// A Qt thread of its own where every port object of a library front end
// (the Python module, the C library) lives and every event is handled. A call
// from any thread hands its work over and waits; nothing that runs there
// calls back into the caller's runtime. Started on first use; ended by
// shutdown(), after which every call fails with PortError ("closed").
//
// A process forked from one whose host ran has no such thread (and its locks
// may be held for ever): calls there fail at once with PortError, never hang.
class ThreadHost : public ClientLoop {
public:
    // The process's host, started if need be. Throws PortError after a fork
    // or once it has been shut down.
    static ThreadHost& get();
    // The host if one runs in this process (not a forked child), else nullptr.
    static ThreadHost* started();
    // Throws PortError in a process forked after the host started.
    static void refuseAfterFork();
    static bool forked();

    void run(const std::function<void()>& f) override;
    void wait(const std::function<bool()>& ready, int maxMs) override;

    // Clients whose ports are closed when the host ends.
    void add(Client* c);
    void remove(Client* c);

    // Closes every port still open, then ends the thread. Calls waiting in
    // other threads return with PortError.
    void shutdown();
    bool hasShutDown() const;

private:
    struct Task {
        const std::function<void()>* f;
        bool done = false;
        std::exception_ptr error;
    };
    struct Waiter {
        const std::function<bool()>* ready;
        bool fired = false;
    };

    ThreadHost() = default;
    void start();
    void wake();  // with m_mutex held
    void main();
    void runTasks();

    std::thread m_thread;
    QThread* m_qthread = nullptr;
    std::thread::id m_id;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Task*> m_tasks;
    std::vector<Waiter*> m_waiters;
    std::set<Client*> m_clients;
    QAbstractEventDispatcher* m_dispatcher = nullptr;
    bool m_quit = false;
    bool m_ended = false;
};

// The platform's part: signals stay with the caller's threads, and a fork is
// noticed (thread_host_posix.cpp, thread_host_win.cpp).
namespace thread_host_platform {
void blockSignalsInThisThread();
void onFork(void (*child)());
}  // namespace thread_host_platform

}  // namespace veltra
