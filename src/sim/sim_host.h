#pragma once

#include "sim/sim_options.h"

#include <cstdint>

namespace veltra {

// Bytes the signal handlers write into the self-pipe.
inline constexpr char kSignalStop = 'q';
inline constexpr char kSignalTrigger = 't';

// Runs a SimController on a pseudo-terminal: one poll() loop over the line,
// the signal pipe and the controller's next due time, on a real clock sped up
// by --time-scale. A client may come and go any number of times; replies due
// while nobody has the line open are dropped, as on an unplugged wire.
class SimHost {
public:
    SimHost(const SimOptions& options, int signalFd);
    // Prints the slave path as the first line of standard output, then serves
    // until a stop byte arrives on the signal pipe. Returns the exit status.
    int run();

private:
    SimOptions m_options;
    int m_signalFd;
};

}  // namespace veltra
