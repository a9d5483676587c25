#include "quit_signals.h"

#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace veltra {

namespace {

int g_signalPipe[2] = {-1, -1};

// Only async-signal-safe calls: the signal number goes down the pipe.
extern "C" void forwardSignal(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

void catchQuitSignals() {
    if (g_signalPipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

void onQuitSignals(QObject* context, std::function<void(int)> quit) {
    catchQuitSignals();
    if (g_signalPipe[0] < 0)
        return;
    // A signal that came before this waits in the pipe: told on the first pass of the event loop.
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [quit = std::move(quit)] {
        unsigned char byte = 0;
        int last = 0;
        while (::read(g_signalPipe[0], &byte, 1) == 1)
            last = byte;
        if (last != 0)
            quit(last);
    });
}

}  // namespace veltra
