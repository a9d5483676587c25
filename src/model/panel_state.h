#pragma once

#include "model/controller_settings.h"
#include "model/ports.h"
#include "model/received_log.h"
#include "model/timer_value.h"

#include <array>
#include <string>

namespace veltra {

// What the operator sees of one COM slot: the status edit and why it is so.
struct PortView {
    std::string status;   // "Connected", "Disconnected", "Ready for Veltra" or ""
    bool enabled = true;  // the status edit is disabled while the port is closed
    std::string tooltip;  // why a port could not be opened, if known
    bool operator==(const PortView&) const = default;
};

inline constexpr const char* kNeutralDensityCaption = "Neutral Density";

// Everything the main panel shows, plus the stored timer values: the
// controller's settings as the panel holds them (the radio groups, the steps,
// which no control shows, the delay and exposure behind their labels, the
// "Repeat Cycle Number:" text), and the rest of the window. Radio groups are
// the index of the checked button, -1 when none is checked. Texts are UTF-8.
// The widgets are a view of this; every rule works on it alone.
struct PanelState : ControllerSettings {
    int timerSelectIndex = -1;  // combo "Select Timer:": 0 Delay, 1 Exposure, 2 empty item
    bool triggerPulseChecked = false;  // check box "Trigger Pulse ->>"
    bool syncPulseChecked = false;     // check box "SYNC Pulse ->>"
    std::string leftCycleText;         // "Left Cycle Number" (read-only)
    TimerValue editedTime;             // the five time edits
    std::array<int, kTimerFieldCount> sliders{};  // indexed by TimerField

    std::string ndCaption = kNeutralDensityCaption;  // caption of the Neutral Density radio
    std::string openingLabel = "12 ms";
    std::string closingLabel = "12 ms";
    std::string delayLabel = kZeroTimerText;
    std::string exposureLabel = kZeroTimerText;
    std::string cycleLabel = "Cycle Time  -  00 : 00 : 00 : 000 : 0";

    std::array<PortView, kPortCount> ports{};

    // Stored value behind the cycle label; not shown directly.
    TimerValue cycleTime;

    ReceivedLog log;  // "Data Received from Controller:"
};

// Sets a slider's position, clamped to its range as the control would.
void setSlider(PanelState& s, int field, int position);

}  // namespace veltra
