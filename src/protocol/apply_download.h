#pragma once

#include "model/controller_settings.h"
#include "protocol/commands.h"

#include <optional>
#include <string>

namespace veltra {

// The Apply download: a whole set of settings goes to the controller one
// command at a time, each when the controller has answered the previous
// command of k bytes with k + 1 bytes (its echo and a carriage return).
enum class ApplyStep : int { Position, Mode, Trigger, Sync, Delay, Exposure, Repeat, RunningOption };
inline constexpr int kApplyStepCount = 8;

// The step's name as a person reads it ("delay timer").
const char* applyStepName(ApplyStep step);

// The command of one step, or none where the step has nothing to send (no
// mode, no running option). The repeat step sends FF FF for "Continuous" and
// otherwise the two bytes of the text's leading integer.
std::optional<Command> applyStepCommand(ApplyStep step, const ControllerSettings& s);

// The byte counting of the download. The position command goes out at the
// start; the next step is due when the count reaches its threshold.
class ApplyPacing {
public:
    void start(int port);
    void stop();
    bool active() const { return m_count >= 0; }
    int port() const { return m_port; }
    // Counts one received byte; the step due now, if any.
    std::optional<ApplyStep> countByte();
    // The step due now had this many bytes sent (0: nothing was sent).
    void stepSent(ApplyStep step, int length);
    // The step whose answer the download waits for (to name it when none comes).
    ApplyStep awaiting() const { return m_lastSent; }

private:
    static ApplyStep stepAt(int count);
    int m_count = -1;   // bytes received since the start; -1 no download
    int m_nextAt = -1;  // count at which the next step goes out
    int m_port = 0;
    ApplyStep m_lastSent = ApplyStep::Position;
};

}  // namespace veltra
