#include "panel/panel_render.h"

#include "model/number_format.h"

namespace veltra {

std::string ndOpeningText(int steps, double factor) { return formatFixedHalfUp(steps * factor, 1) + " ms"; }

void showModeLabels(PanelState& s, int shutterMode, int ndSteps, const std::string& ndLabel) {
    if (shutterMode == 2) {
        s.ndCaption = std::string(kNeutralDensityCaption) + " - " + std::to_string(ndSteps);
        s.openingLabel = s.closingLabel = ndLabel;
        return;
    }
    s.ndCaption = kNeutralDensityCaption;
    s.openingLabel = s.closingLabel = shutterMode == 1 ? "70 ms" : "12 ms";
}

void showSelectedTimer(PanelState& s) {
    s.editedTime = s.timerSelectIndex == 1 ? s.exposureTime : s.delayTime;
    for (int f = 0; f < kTimerFieldCount; ++f) setSlider(s, f, s.editedTime.value(f));
}

void refreshCycleTime(PanelState& s) {
    // Status replies at line rate mostly repeat the last one's timers: the
    // sum and its label are kept for the inputs they were made from.
    struct Last {
        TimerValue delay, exposure;
        int mode = 0, steps = 0;
        bool valid = false;
        TimerValue cycle;
        std::string label;
    };
    thread_local Last last;
    if (!last.valid || last.mode != s.shutterMode || last.steps != s.ndSteps || last.delay != s.delayTime ||
        last.exposure != s.exposureTime) {
        last.delay = s.delayTime;
        last.exposure = s.exposureTime;
        last.mode = s.shutterMode;
        last.steps = s.ndSteps;
        last.cycle = computeCycleTime(s.delayTime, s.exposureTime, s.shutterMode, s.ndSteps);
        last.label = cycleTimeLabel(last.cycle);
        last.valid = true;
    }
    s.cycleTime = last.cycle;
    s.cycleLabel = last.label;
}

void refreshTimerLabels(PanelState& s) {
    // As the cycle time: remade only for timers other than the last ones.
    struct Last {
        TimerValue timer;
        std::string label;
        bool valid = false;
    };
    thread_local Last delay, exposure;
    const auto label = [](Last& last, const TimerValue& timer, std::string& out) {
        if (!last.valid || last.timer != timer) {
            last.timer = timer;
            last.label = formatTimerValue(timer, false);
            last.valid = true;
        }
        out = last.label;
    };
    label(delay, s.delayTime, s.delayLabel);
    label(exposure, s.exposureTime, s.exposureLabel);
}

void renderStatusField(PanelState& s, const StatusRecord& r, StatusField field) {
    using F = StatusField;
    switch (field) {
    case F::Unused: break;
    case F::Position: s.shutterPosition = r.shutterPosition; break;
    case F::Mode:
        s.shutterMode = r.shutterMode;
        // Neutral Density's texts wait for its step count.
        if (r.shutterMode != 2) showModeLabels(s, r.shutterMode, 0, {});
        break;
    case F::Steps:
        s.ndSteps = r.ndSteps;
        showModeLabels(s, 2, r.ndSteps, ndOpeningText(r.ndSteps, kNdStepMsReply));
        break;
    case F::Trigger:
        s.triggerMode = r.triggerMode;
        s.triggerPulseChecked = r.triggerMode != -1;
        break;
    case F::Sync:
        s.syncMode = r.syncMode;
        s.syncPulseChecked = r.syncMode != -1;
        break;
    case F::DelayHours:
        s.delayTime.hours = r.delayTime.hours;
        s.timerSelectIndex = r.timerSelectIndex;
        break;
    case F::ExposureHours:
        s.exposureTime.hours = r.exposureTime.hours;
        s.timerSelectIndex = r.timerSelectIndex;
        break;
    case F::DelayMinutes: s.delayTime.minutes = r.delayTime.minutes; break;
    case F::DelaySeconds: s.delayTime.seconds = r.delayTime.seconds; break;
    case F::DelayMsHigh: s.delayTime.milliseconds = r.delayTime.milliseconds; break;
    case F::DelayMsLow:
        s.delayTime.milliseconds = r.delayTime.milliseconds;
        s.delayTime.tenths = r.delayTime.tenths;
        break;
    case F::ExposureMinutes: s.exposureTime.minutes = r.exposureTime.minutes; break;
    case F::ExposureSeconds: s.exposureTime.seconds = r.exposureTime.seconds; break;
    case F::ExposureMsHigh: s.exposureTime.milliseconds = r.exposureTime.milliseconds; break;
    case F::ExposureMsLow:
        s.exposureTime.milliseconds = r.exposureTime.milliseconds;
        s.exposureTime.tenths = r.exposureTime.tenths;
        break;
    case F::RunningOption: s.runningOption = r.runningOption; break;
    case F::RepeatHigh: break;
    case F::RepeatLow:
        // No "Continuous" here: FF FF shows as 65535.
        s.repeatText = r.repeatText;
        s.leftCycleText = s.repeatText;
        break;
    }
}

void renderStatusComplete(PanelState& s, const StatusRecord&) {
    refreshCycleTime(s);
    showSelectedTimer(s);
    refreshTimerLabels(s);
}

}  // namespace veltra
