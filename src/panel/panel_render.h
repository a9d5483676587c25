#pragma once

#include "model/panel_state.h"
#include "protocol/reply_decoder.h"

#include <string>

namespace veltra {

inline constexpr const char* kReadyText = "Ready for Veltra";

// Opening time of n neutral-density steps with one decimal, an exact half
// rounded up ("14.3 ms" for 54 steps at 19/72 ms).
std::string ndOpeningText(int steps, double factor);
// The step time a status reply shows (19/72 ms a step, double precision).
inline constexpr double kNdStepMsReply = 0.2638888888888889;

// The mode's caption and opening/closing labels: "Neutral Density - n" with
// the given label for Neutral Density, "70 ms" for Soft, "12 ms" otherwise.
void showModeLabels(PanelState& s, int shutterMode, int ndSteps, const std::string& ndLabel);
// The stored timer the combo selects (the delay for anything but Exposure)
// into the five edits and their sliders.
void showSelectedTimer(PanelState& s);
// The cycle time from the stored timers and the mode, and its label.
void refreshCycleTime(PanelState& s);
// The two stored-timer labels.
void refreshTimerLabels(PanelState& s);

// A status reply field by field, as its bytes arrive, and its end.
void renderStatusField(PanelState& s, const StatusRecord& r, StatusField field);
void renderStatusComplete(PanelState& s, const StatusRecord& r);

}  // namespace veltra
