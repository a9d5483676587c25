#include "client/thread_host.h"

#include "client/client_errors.h"
#include "client/veltra_client.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>

namespace veltra {

namespace {

std::atomic<ThreadHost*> g_started{nullptr};
std::atomic<bool> g_forked{false};

PortError shutDownError() {
    return {PortError::Reason::Closed, "the veltra library has shut down (the program is ending): the port is closed"};
}

}  // namespace

ThreadHost& ThreadHost::get() {
    refuseAfterFork();
    static std::mutex startLock;
    const std::lock_guard lock(startLock);
    static ThreadHost* host = nullptr;  // never destroyed: may outlive every static
    if (host && host->hasShutDown()) throw shutDownError();
    if (!host) {
        host = new ThreadHost;
        host->start();
    }
    return *host;
}

ThreadHost* ThreadHost::started() { return g_forked.load() ? nullptr : g_started.load(); }

bool ThreadHost::forked() { return g_forked.load(); }

void ThreadHost::refuseAfterFork() {
    if (g_forked.load())
        throw PortError(PortError::Reason::Other,
                        "the veltra library cannot be used in a process forked after it started (its Qt thread "
                        "stays in the parent): start child processes before the first call, or with "
                        "multiprocessing's \"spawn\" or \"forkserver\" method");
}

void ThreadHost::run(const std::function<void()>& f) {
    refuseAfterFork();
    if (std::this_thread::get_id() == m_id) {
        f();
        return;
    }
    Task task{&f, false, nullptr};
    {
        std::unique_lock lock(m_mutex);
        if (m_ended || m_quit) throw shutDownError();
        m_tasks.push_back(&task);
        wake();
        m_cv.wait(lock, [&] { return task.done; });
    }
    if (task.error) std::rethrow_exception(task.error);
}

void ThreadHost::wait(const std::function<bool()>& ready, int maxMs) {
    refuseAfterFork();
    Waiter w{&ready, false};
    std::unique_lock lock(m_mutex);
    if (m_ended) return;
    m_waiters.push_back(&w);
    wake();
    m_cv.wait_for(lock, std::chrono::milliseconds(std::max(0, maxMs)), [&] { return w.fired || m_ended; });
    m_waiters.erase(std::find(m_waiters.begin(), m_waiters.end(), &w));
}

void ThreadHost::add(Client* c) {
    const std::lock_guard lock(m_mutex);
    m_clients.insert(c);
}

void ThreadHost::remove(Client* c) {
    const std::lock_guard lock(m_mutex);
    m_clients.erase(c);
}

bool ThreadHost::hasShutDown() const {
    const std::lock_guard lock(m_mutex);
    return m_quit || m_ended;
}

void ThreadHost::shutdown() {
    std::set<Client*> clients;
    {
        const std::lock_guard lock(m_mutex);
        if (m_quit) return;
        clients = m_clients;
    }
    for (Client* c : clients) {
        try {
            c->close();
        } catch (const ClientError&) {
        }
    }
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
        wake();
    }
    if (m_thread.joinable()) m_thread.join();
    if (m_qthread) m_qthread->wait();
}

void ThreadHost::start() {
    // A program's own Qt application (the same Qt) is used; its thread has
    // its event loop, so this one must be a QThread to have one too.
    if (QCoreApplication::instance()) {
        m_qthread = QThread::create([this] { main(); });
        m_qthread->start();
    } else {
        m_thread = std::thread([this] { main(); });
    }
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [&] { return m_dispatcher != nullptr || m_ended; });
    g_started.store(this);
    thread_host_platform::onFork([] { g_forked.store(true); });
}

void ThreadHost::wake() {
    if (m_dispatcher) m_dispatcher->wakeUp();
}

void ThreadHost::main() {
    thread_host_platform::blockSignalsInThisThread();
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "veltra";
        static char* argv[] = {name, nullptr};
        new QCoreApplication(argc, argv);  // kept for the life of the process
    }
    QEventLoop loop;
    {
        const std::lock_guard lock(m_mutex);
        m_id = std::this_thread::get_id();
        m_dispatcher = QAbstractEventDispatcher::instance();
    }
    m_cv.notify_all();
    for (;;) {
        runTasks();
        bool quit = false;
        {
            const std::lock_guard lock(m_mutex);
            bool fired = false;
            for (Waiter* w : m_waiters)
                if (!w->fired && (*w->ready)()) w->fired = fired = true;
            quit = m_ended = m_quit && m_tasks.empty();
            if (fired || quit) m_cv.notify_all();
        }
        if (quit) return;
        // An event handler that throws would end the process: what a port's
        // event cannot handle is dropped here, and its call times out or fails.
        try {
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        } catch (...) {
        }
    }
}

void ThreadHost::runTasks() {
    for (;;) {
        Task* task = nullptr;
        {
            const std::lock_guard lock(m_mutex);
            if (m_tasks.empty()) return;
            task = m_tasks.front();
            m_tasks.pop_front();
        }
        try {
            (*task->f)();
        } catch (...) {
            task->error = std::current_exception();
        }
        {
            const std::lock_guard lock(m_mutex);
            task->done = true;
        }
        m_cv.notify_all();
    }
}

}  // namespace veltra
