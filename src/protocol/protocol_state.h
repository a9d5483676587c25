#pragma once

#include <array>
#include <cstdint>

namespace veltra {

// The process-wide protocol state, -1 (or 0) for idle. One set serves all
// four ports, as the controller's replies carry no port of their own.
struct ProtocolState {
    int activePort = 0;             // 1..4, 0 while no port has opened
    int awaitingOnlineReply = 0;    // 1 until the first Online echo
    int statusRequestPending = -1;  // 1 after Reset / Restore Default
    int runMode = 0;                // 1 trigger-pulse run, 2 free run (Go)
    int runStartPosition = -1;      // shutter position at the start of the run
    int applyReplyCount = -1;       // bytes since Apply; -1 no download
    int applyNextAt = -1;           // count at which the next step goes out
    int infoCount = -1;             // controller-information bytes collected
    std::array<std::uint8_t, 12> infoBytes{};
    int statusIndex = -1;           // position inside a status reply, -1 none
    int repeatHighByte = 0;         // repeat high byte * 256, from a status reply
};

}  // namespace veltra
