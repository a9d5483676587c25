#pragma once

#include "sim/sim_options.h"

#include <atomic>

namespace veltra {

// What the signal handlers leave for the host. Handlers only set these
// lock-free atomics and write one byte into a self-pipe to wake the loop; the
// pipe carries no meaning, so a pipe filled by a storm of triggers can never
// swallow a stop.
struct SimSignals {
    std::atomic<bool> stop{false};
    std::atomic<unsigned> triggers{0};  // trigger pulses not yet handled
    int wakeFd = -1;                    // read end of the self-pipe, non-blocking
};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<unsigned>::is_always_lock_free,
              "signal handlers may only touch lock-free atomics");

// Runs a SimController on a pseudo-terminal: one poll() loop over the line,
// the signal pipe and the controller's next due time, on a real clock sped up
// by --time-scale. A client may come and go any number of times; replies due
// while nobody has the line open are dropped, as on an unplugged wire. With
// --pace-baud both directions take 10 bit times a byte: a received byte
// reaches the controller only once it has crossed the wire.
class SimHost {
public:
    SimHost(const SimOptions& options, SimSignals& signals);
    // Prints the slave path as the first line of standard output, then serves
    // until a stop is signalled. Returns the exit status.
    int run();

private:
    SimOptions m_options;
    SimSignals& m_signals;
};

}  // namespace veltra
