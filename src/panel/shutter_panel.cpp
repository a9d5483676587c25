#include "panel/shutter_panel.h"

#include "model/leading_int.h"
#include "protocol/apply_download.h"

#include <cstdio>

namespace veltra {

namespace msg {

std::string portNotConnected(int port) {
    return "COM" + std::to_string(port) + " is not connected: the command was not sent.";
}

const char* fieldLimitMessage(int field) {
    switch (field) {
    case kHours: return "Hours number must be less than 6! Please retype.";
    case kMinutes: return "Minutes number must be less than 60! Please retype.";
    case kSeconds: return "Seconds number must be less than 60! Please retype.";
    case kMilliseconds: return "Milliseconds number must be less than 1000! Please retype.";
    default: return "1/10 Milliseconds number must be less than 10! Please retype.";
    }
}

}  // namespace msg

namespace {

constexpr int kMaxNdSteps = 144;
constexpr int kMaxRepeatCount = 65000;
constexpr const char* kConnected = "Connected";
constexpr const char* kDisconnected = "Disconnected";

// The steps dialog computes the opening time with a float constant.
constexpr float kNdStepMs = 0.2638889f;

bool hoursAtMaximum(const PanelState& s) { return leadingInt(s.editedTime.hours) == 5; }

bool fieldInRange(int field, int value) {
    return value >= 0 && value <= kTimerFieldMax[static_cast<std::size_t>(field)];
}

}  // namespace

std::optional<std::string> checkNdSteps(const std::string& steps) {
    const int v = leadingInt(steps);
    if (v > kMaxNdSteps) return std::string(msg::kStepsTooMany);
    if (steps.empty()) return std::string(msg::kNoSteps);
    // A negative count would reach the controller as a step byte above 144.
    if (v < 0) return std::string(msg::kNegativeSteps);
    return std::nullopt;
}

ShutterPanel::ShutterPanel(CommandSink& sink, Prompter& prompter)
    : m_sink(sink), m_prompter(prompter), m_decoder(m_p, sink) {}

void ShutterPanel::initialise(PanelState& s) {
    for (int f = 0; f < kTimerFieldCount; ++f) {
        setSlider(s, f, 0);
        s.editedTime.field(f).clear();
    }
    s.triggerPulseChecked = true;
    s.syncPulseChecked = true;
    s.triggerMode = 0;
    s.syncMode = 1;
    s.shutterMode = 0;
    s.shutterPosition = 1;
}

void ShutterPanel::portOpenedAtStartup(PanelState& s, int port) {
    m_p.activePort = port;
    s.ports[static_cast<std::size_t>(port - 1)] = PortView{kConnected, true, {}};
    m_sink.send(port, onlineCommand());
    m_p.awaitingOnlineReply = 1;
}

void ShutterPanel::portFailedAtStartup(PanelState& s, int port, const std::string& reason) {
    s.ports[static_cast<std::size_t>(port - 1)] = PortView{kDisconnected, false, reason};
}

void ShutterPanel::portReopened(PanelState& s, int port, bool opened, const std::string& reason) {
    auto& view = s.ports[static_cast<std::size_t>(port - 1)];
    view = opened ? PortView{kConnected, true, {}} : PortView{kDisconnected, false, reason};
    // With no port at all until now, the first one that opens is where
    // commands go; otherwise the active port stays as the Online echo chose it.
    if (opened && m_p.activePort == 0) m_p.activePort = port;
}

void ShutterPanel::portLost(PanelState& s, int port, const std::string& reason) {
    s.ports[static_cast<std::size_t>(port - 1)] = PortView{kDisconnected, false, reason};
}

bool ShutterPanel::send(const Command& c) {
    if (m_p.activePort != 0 && m_sink.send(m_p.activePort, c)) return true;
    warnNotSent();
    return false;
}

void ShutterPanel::warnNotSent() {
    m_prompter.warning(m_p.activePort == 0 ? std::string(msg::kNoPort) : msg::portNotConnected(m_p.activePort));
}

void ShutterPanel::refreshCycle(PanelState& s) {
    s.cycleTime = computeCycleTime(s.delayTime, s.exposureTime, s.shutterMode, s.ndSteps);
    s.cycleLabel = cycleTimeLabel(s.cycleTime);
}

// ---- line commands -------------------------------------------------------

void ShutterPanel::onOnline(PanelState&) { send(onlineCommand()); }
void ShutterPanel::onStatus(PanelState&) { send(statusCommand()); }
void ShutterPanel::onGetControllerInfo(PanelState&) { send(getInfoCommand()); }
void ShutterPanel::onPowerOff(PanelState&) { send(powerOffCommand()); }
void ShutterPanel::onPowerOn(PanelState&) { send(powerOnCommand()); }

void ShutterPanel::onReset(PanelState&) {
    // The controller's next carriage return then brings a Status request.
    if (send(resetCommand())) m_p.statusRequestPending = 1;
}

// ---- shutter position and mode --------------------------------------------

void ShutterPanel::onOpen(PanelState& s) {
    s.shutterPosition = 0;
    send(shutterCommand(0));
}

void ShutterPanel::onClose(PanelState& s) {
    s.shutterPosition = 1;
    send(shutterCommand(1));
}

void ShutterPanel::onFast(PanelState& s) { chooseMode(s, 0, "12 ms"); }
void ShutterPanel::onSoft(PanelState& s) { chooseMode(s, 1, "70 ms"); }

void ShutterPanel::chooseMode(PanelState& s, int mode, const char* openingTime) {
    s.shutterMode = mode;
    s.ndCaption = kNeutralDensityCaption;  // drops a step count shown there
    s.openingLabel = s.closingLabel = openingTime;
    send(*modeCommand(mode, s.ndSteps));
    refreshCycle(s);
}

void ShutterPanel::onNeutralDensity(PanelState& s, int modeBefore) {
    const std::optional<std::string> steps = m_prompter.askNdSteps();
    // Cancelled: the controller keeps its mode, so the group shows that mode
    // again rather than a "Neutral Density" that was never sent.
    if (!steps) {
        s.shutterMode = modeBefore;
        return;
    }
    const int n = leadingInt(*steps);
    s.shutterMode = 2;
    s.ndSteps = n;
    s.ndCaption = std::string(kNeutralDensityCaption) + " - " + std::to_string(n);
    s.openingLabel = s.closingLabel = ndOpeningText(n, static_cast<double>(kNdStepMs));
    refreshCycle(s);
    send(*modeCommand(2, n));
}

// ---- trigger input and sync output ----------------------------------------

void ShutterPanel::onTriggerPulse(PanelState& s) {
    // Decided by the radio group, not by the box the click has just toggled.
    const bool switchOn = s.triggerMode == -1;
    s.triggerPulseChecked = switchOn;
    s.triggerMode = switchOn ? 0 : -1;
    send(triggerCommand(s.triggerMode));
}

void ShutterPanel::onTriggerRadio(PanelState& s, int index) {
    s.triggerMode = index;
    s.triggerPulseChecked = true;
    send(triggerCommand(index));
}

void ShutterPanel::onSyncPulse(PanelState& s) {
    // Switching on selects "Low for Open", the group's second button.
    const bool switchOn = s.syncMode == -1;
    s.syncPulseChecked = switchOn;
    s.syncMode = switchOn ? 1 : -1;
    send(syncCommand(s.syncMode));
}

void ShutterPanel::onSyncRadio(PanelState& s, int index) {
    s.syncPulseChecked = true;
    s.syncMode = index;
    send(syncCommand(index));
}

// ---- timer editor -----------------------------------------------------------

void ShutterPanel::showSelectedTimer(PanelState& s) {
    if (s.timerSelectIndex == -1) return;
    // Whatever was typed and not yet stored is dropped.
    s.editedTime = s.timerSelectIndex == 1 ? s.exposureTime : s.delayTime;
    for (int f = 0; f < kTimerFieldCount; ++f) setSlider(s, f, s.editedTime.value(f));
}

void ShutterPanel::onTimeFieldEdited(PanelState& s, int field) {
    std::string& text = s.editedTime.field(field);
    const int value = leadingInt(text);
    const bool atMax = hoursAtMaximum(s);
    // Below 0 is refused like above the limit: it would reach the controller
    // as a garbage byte.
    const bool rejected = !fieldInRange(field, value) || (field != kHours && atMax);
    if (rejected) {
        m_prompter.warning(atMax ? msg::kTimerMax : msg::fieldLimitMessage(field));
        text.clear();
    }
    if (field == kHours && leadingInt(text) == 5) {
        for (int f = kMinutes; f < kTimerFieldCount; ++f) {
            s.editedTime.field(f).clear();
            setSlider(s, f, 0);
        }
    }
    setSlider(s, field, leadingInt(text));
}

void ShutterPanel::onSliderReleased(PanelState& s, int field) {
    const int position = s.sliders[static_cast<std::size_t>(field)];
    if (field == kHours) {
        if (position == 5) {
            for (int f = kMinutes; f < kTimerFieldCount; ++f) {
                s.editedTime.field(f).clear();
                setSlider(s, f, 0);
            }
        }
        s.editedTime.hours = std::to_string(position);
        return;
    }
    if (hoursAtMaximum(s)) {
        m_prompter.warning(msg::kTimerMax);
        setSlider(s, field, 0);
        return;
    }
    s.editedTime.field(field) = std::to_string(position);
}

void ShutterPanel::onSetTimer(PanelState& s) {
    // Texts that did not come through the field checks (a loaded file) must
    // not reach the controller as garbage bytes either.
    for (int f = 0; f < kTimerFieldCount; ++f) {
        const int v = s.editedTime.value(f);
        const bool past5h = f != kHours && hoursAtMaximum(s) && v != 0;
        if (!fieldInRange(f, v) || past5h) {
            m_prompter.warning(past5h ? msg::kTimerMax : msg::fieldLimitMessage(f));
            return;
        }
    }
    // Anything but "Exposure Time" is the delay, for the store, the label and
    // the selector alike.
    const bool exposure = s.timerSelectIndex == 1;
    if (exposure) {
        s.exposureTime = s.editedTime;
        s.exposureLabel = formatTimerValue(s.exposureTime, false);
    } else {
        s.delayTime = s.editedTime;
        s.delayLabel = formatTimerValue(s.delayTime, false);
    }
    refreshCycle(s);
    send(timerCommand(exposure ? TimerSelector::Exposure : TimerSelector::Delay, s.editedTime));
}

// ---- run configuration ------------------------------------------------------

void ShutterPanel::onRunningOption(PanelState& s, int index) {
    if (index == 0) {
        s.runningOption = 0;
        send(*runningOptionCommand(0));
        return;
    }
    if (s.repeatText.empty()) {
        // The clicked radio stays checked; nothing is sent.
        m_prompter.warning(msg::kRepeatFirst);
        return;
    }
    s.runningOption = index;
    if (send(*runningOptionCommand(index))) {
        m_p.runMode = index;
        m_p.runStartPosition = s.shutterPosition;
    }
}

void ShutterPanel::onSendRepeat(PanelState& s) {
    const int n = leadingInt(s.repeatText);
    std::array<std::uint8_t, 2> hl{0xFF, 0xFF};
    if (s.repeatText == kContinuousText || n > kMaxRepeatCount) {
        s.repeatText = kContinuousText;
    } else if (n < 0) {
        // -5 would go out as 251 cycles.
        m_prompter.warning(msg::kNegativeRepeat);
        return;
    } else {
        hl = repeatCountBytes(n);
    }
    s.leftCycleText = s.repeatText;
    send(repeatCommand(hl[0], hl[1]));
}

void ShutterPanel::onStop(PanelState&) { send(stopCommand()); }

void ShutterPanel::onApply(PanelState& s) {
    if (s.repeatText != kContinuousText && leadingInt(s.repeatText) < 0) {
        m_prompter.warning(msg::kNegativeRepeat);
        return;
    }
    // A new Apply restarts the download whatever state the last one was in.
    if (!startApplyDownload(s, m_p, m_sink)) {
        m_p.applyReplyCount = m_p.applyNextAt = -1;
        warnNotSent();
    }
}

void ShutterPanel::onRestoreDefault(PanelState&) {
    if (!m_prompter.confirm(msg::kRestoreDefault)) return;
    if (send(restoreDefaultCommand())) m_p.statusRequestPending = 1;
}

void ShutterPanel::onSaveConfigToController(PanelState&) {
    if (m_prompter.confirm(msg::kSaveConfig)) send(saveConfigCommand());
}

void ShutterPanel::onClear(PanelState& s) { s.log.clear(); }

}  // namespace veltra
