// veltra-sim: a simulated Veltra controller on a pseudo-terminal.

#include "sim/sim_host.h"
#include "sim/sim_options.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

int g_signalPipe = -1;
veltra::SimSignals g_signals;

// Only async-signal-safe work here: a lock-free atomic, then one byte into
// the self-pipe to wake the loop. A full pipe wakes it just as well.
extern "C" void onSignal(int sig) {
    const int saved = errno;
    if (sig == SIGUSR1) g_signals.triggers.fetch_add(1, std::memory_order_relaxed);
    else g_signals.stop.store(true, std::memory_order_relaxed);
    const char c = 0;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe, &c, 1);
    errno = saved;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const veltra::SimOptionsResult parsed = veltra::parseSimOptions(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "veltra-sim: %s\nTry 'veltra-sim --help'.\n", parsed.error.c_str());
        return 2;
    }
    if (parsed.options.help) {
        std::fputs(veltra::simUsage().c_str(), stdout);
        return 0;
    }
    if (parsed.options.version) {
        std::printf("veltra-sim %s\n", veltra::kSimVersion);
        return 0;
    }

    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
        std::perror("veltra-sim: pipe");
        return 1;
    }
    g_signalPipe = fds[1];
    g_signals.wakeFd = fds[0];
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (const int sig : {SIGINT, SIGTERM, SIGUSR1}) ::sigaction(sig, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    veltra::SimHost host(parsed.options, g_signals);
    return host.run();
}
