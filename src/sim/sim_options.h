#pragma once

#include "sim/sim_controller.h"
#include "veltra_version.h"

#include <span>
#include <string>
#include <string_view>

namespace veltra {

// Command line of veltra-sim.
struct SimOptions {
    std::string link;         // --link: symlink to the pty's slave, empty for none
    double timeScale = 1.0;   // --time-scale: simulated seconds per real second
    long paceBaud = 0;        // --pace-baud: 0 sends as fast as possible
    SimSettings powerUp;      // saved power-up configuration at start
    bool verbose = false;
    bool help = false;
    bool version = false;
};

struct SimOptionsResult {
    SimOptions options;
    std::string error;  // empty when the line was understood
};

// Parses the arguments after the program name. "--name value" and
// "--name=value" both work.
SimOptionsResult parseSimOptions(std::span<const std::string_view> args);

std::string simUsage();

inline constexpr const char* kSimVersion = VELTRA_VERSION_TEXT;

}  // namespace veltra
