#pragma once

#include "model/choices.h"
#include "model/timer_value.h"

#include <optional>

#include <string>

namespace veltra {

inline constexpr const char* kContinuousText = "Continuous";
// What the controller holds for a continuous run.
inline constexpr int kContinuousCount = 0xFFFF;

// The nine settings a controller holds, as one value: what a download sends,
// what a status reply reports and what the panel shows. Radio-like settings
// are the panel's index, -1 when none applies; code outside the panel reads
// and writes them as choices through the functions at the end. The repeat
// count stays the text of the panel's field, so an operator's exact text goes
// out as typed.
struct ControllerSettings {
    int shutterPosition = -1;  // 0 Open, 1 Close
    int shutterMode = -1;      // 0 Fast, 1 Soft, 2 Neutral Density
    int ndSteps = 0;           // Neutral Density only
    int triggerMode = -1;      // 0 Enable on High .. 3 Trigger on Falling Edge, -1 off
    int syncMode = -1;         // 0 High for Open, 1 Low for Open, -1 off
    TimerValue delayTime;
    TimerValue exposureTime;
    std::string repeatText;  // a count's digits or "Continuous"
    int runningOption = -1;  // 0 On Power Up, 1 On Trigger Pulse, 2 Go
    bool operator==(const ControllerSettings&) const = default;

    // The groups as choices. Trigger and sync have an Off, which is also what
    // an index no button has sends; the others are none then.
    std::optional<ShutterPosition> position() const { return shutterPositionAt(shutterPosition); }
    std::optional<ShutterMode> mode() const { return shutterModeAt(shutterMode); }
    TriggerInput trigger() const { return triggerInputAt(triggerMode).value_or(TriggerInput::Off); }
    SyncOutput sync() const { return syncOutputAt(syncMode).value_or(SyncOutput::Off); }
    std::optional<RunningOption> running() const { return runningOptionAt(runningOption); }
    void setPosition(std::optional<ShutterPosition> p) { shutterPosition = p ? radioIndex(*p) : -1; }
    void setMode(std::optional<ShutterMode> m) { shutterMode = m ? radioIndex(*m) : -1; }
    void setTrigger(TriggerInput t) { triggerMode = radioIndex(t); }
    void setSync(SyncOutput s) { syncMode = radioIndex(s); }
    void setRunning(std::optional<RunningOption> o) { runningOption = o ? radioIndex(*o) : -1; }
};

// The count the repeat text stands for: its leading integer, or the
// continuous count for "Continuous".
int repeatCount(const ControllerSettings& s);
// The cycle time the settings make: delay, exposure and the mode's allowance.
TimerValue cycleTime(const ControllerSettings& s);

}  // namespace veltra
