#include "cli/cli_platform.h"

#include <atomic>
#include <csignal>

namespace veltra::cli {

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void onSignal(int) { g_interrupted.store(true); }

}  // namespace

void watchInterrupts() {
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sa.sa_flags = SA_RESETHAND;  // a second Ctrl+C ends the program at once
    sigemptyset(&sa.sa_mask);
    sigset_t mask;
    sigemptyset(&mask);
    for (const int sig : {SIGINT, SIGTERM}) {
        ::sigaction(sig, &sa, nullptr);
        sigaddset(&mask, sig);
    }
    // A parent may have blocked them (the mask survives exec): they would
    // wait unseen, and one sent before this point arrives now.
    ::sigprocmask(SIG_UNBLOCK, &mask, nullptr);
}

bool interrupted() { return g_interrupted.load(); }

const PlatformTexts& platformTexts() {
    static const PlatformTexts texts{
        "serial device, e.g. /dev/ttyUSB0 or /dev/serial/by-id/..., or a terminal server's port: "
        "socket://HOST:PORT, rfc2217://HOST:PORT",
        "COM port number N (/dev/ttyS<N-1>)",
        "list serial ports with their descriptions and /dev/serial/by-id names",
        "  3    the device cannot be opened: missing, no permission (dialout group),\n"
        "       held by another program; or it went away (also during a call)\n",
        "Ctrl+C, SIGTERM",
    };
    return texts;
}

}  // namespace veltra::cli
