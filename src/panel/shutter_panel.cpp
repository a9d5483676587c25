#include "panel/shutter_panel.h"

#include "model/leading_int.h"
#include "protocol/apply_download.h"

#include <cstdio>

namespace veltra {

namespace {

constexpr const char* kConnected = "Connected";
constexpr const char* kDisconnected = "Disconnected";

// The steps dialog computes the opening time with a float constant.
constexpr float kNdStepMs = 0.2638889f;

bool hoursAtMaximum(const PanelState& s) { return leadingInt(s.editedTime.hours) == 5; }

}  // namespace

ShutterPanel::ShutterPanel(CommandSink& sink, Prompter& prompter) : m_sink(sink), m_prompter(prompter) {}

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
    m_activePort = port;
    s.ports[static_cast<std::size_t>(port - 1)] = PortView{kConnected, true, {}};
    sendTo(port, onlineCommand());
    m_decoder.expectOnlineReply();
}

void ShutterPanel::portFailedAtStartup(PanelState& s, int port, const std::string& reason) {
    s.ports[static_cast<std::size_t>(port - 1)] = PortView{kDisconnected, false, reason};
}

void ShutterPanel::portReopened(PanelState& s, int port, bool opened, const std::string& reason) {
    // Whatever waited on the old line waits in vain on the new one.
    endFlowsOn(s, port, "reopened");
    auto& view = s.ports[static_cast<std::size_t>(port - 1)];
    view = opened ? PortView{kConnected, true, {}} : PortView{kDisconnected, false, reason};
    // With no port at all until now, the first one that opens is where
    // commands go; otherwise the active port stays as the Online echo chose it.
    if (opened && m_activePort == 0) m_activePort = port;
}

void ShutterPanel::portLost(PanelState& s, int port, const std::string& reason) {
    endFlowsOn(s, port, "closed");
    s.ports[static_cast<std::size_t>(port - 1)] = PortView{kDisconnected, false, reason};
}

void ShutterPanel::endFlowsOn(PanelState& s, int port, const char* why) {
    if (port < 1 || port > kPortCount) return;
    rx(s);
    m_decoder.portClosed(port, why);
}

bool ShutterPanel::sendTo(int port, const Command& c) {
    if (port == 0 || !m_sink.send(port, c)) return false;
    m_decoder.noteSent(port, c);
    return true;
}

void ShutterPanel::portReconnected(PanelState& s, int port) {
    portReopened(s, port, true, {});
    sendTo(port, onlineCommand());
    if (m_activePort == port) m_decoder.expectOnlineReply();
}

bool ShutterPanel::send(const Command& c) {
    if (sendTo(m_activePort, c)) return true;
    warnNotSent();
    return false;
}

void ShutterPanel::warnNotSent() {
    m_prompter.warning(m_activePort == 0 ? std::string(msg::kNoPort) : msg::portNotConnected(m_activePort));
}

// ---- line commands -------------------------------------------------------

void ShutterPanel::onOnline(PanelState&) { send(onlineCommand()); }
void ShutterPanel::onStatus(PanelState&) { send(statusCommand()); }
void ShutterPanel::onGetControllerInfo(PanelState&) { send(getInfoCommand()); }
void ShutterPanel::onPowerOff(PanelState&) { send(powerOffCommand()); }
void ShutterPanel::onPowerOn(PanelState&) { send(powerOnCommand()); }

void ShutterPanel::onReset(PanelState&) {
    // The controller's next carriage return then brings a Status request.
    if (send(resetCommand())) m_decoder.requestStatusAtNextCr(m_activePort);
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

void ShutterPanel::onFast(PanelState& s) { chooseMode(s, 0); }
void ShutterPanel::onSoft(PanelState& s) { chooseMode(s, 1); }

void ShutterPanel::chooseMode(PanelState& s, int mode) {
    s.shutterMode = mode;
    showModeLabels(s, mode, s.ndSteps, {});  // drops a step count shown in the caption
    send(*modeCommand(mode, s.ndSteps));
    refreshCycleTime(s);
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
    showModeLabels(s, 2, n, ndOpeningText(n, static_cast<double>(kNdStepMs)));
    refreshCycleTime(s);
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

void ShutterPanel::setTrigger(PanelState& s, TriggerInput input) {
    if (input != TriggerInput::Off) return onTriggerRadio(s, radioIndex(input));
    s.triggerPulseChecked = false;
    s.triggerMode = radioIndex(input);
    send(triggerCommand(s.triggerMode));
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

void ShutterPanel::setSync(PanelState& s, SyncOutput output) {
    if (output != SyncOutput::Off) return onSyncRadio(s, radioIndex(output));
    s.syncPulseChecked = false;
    s.syncMode = radioIndex(output);
    send(syncCommand(s.syncMode));
}

// ---- timer editor -----------------------------------------------------------

void ShutterPanel::showSelectedTimer(PanelState& s) {
    if (s.timerSelectIndex == -1) return;
    // Whatever was typed and not yet stored is dropped.
    veltra::showSelectedTimer(s);
}

void ShutterPanel::onTimeFieldEdited(PanelState& s, int field) {
    std::string& text = s.editedTime.field(field);
    if (const auto refused = checkTimeField(field, text, hoursAtMaximum(s))) {
        m_prompter.warning(*refused);
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
    if (const auto refused = checkTimer(s.editedTime)) {
        m_prompter.warning(*refused);
        return;
    }
    // Anything but "Exposure Time" is the delay, for the store, the label and
    // the selector alike.
    const bool exposure = s.timerSelectIndex == 1;
    (exposure ? s.exposureTime : s.delayTime) = s.editedTime;
    refreshTimerLabels(s);
    refreshCycleTime(s);
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
    if (send(*runningOptionCommand(index))) m_decoder.followRun(index, s.shutterPosition, m_activePort);
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
    // Everything the download will send passes the checks of its own control
    // first: a value from a loaded file that no control would accept is
    // refused before the first byte.
    const ControllerSettings settings = s;
    if (const auto refused = checkApplySettings(settings)) {
        m_prompter.warning(*refused);
        return;
    }
    // A new Apply restarts the download whatever state the last one was in.
    m_decoder.stopApply();
    if (!send(*applyStepCommand(ApplyStep::Position, settings))) return;
    m_decoder.startApply(m_activePort);
}

void ShutterPanel::onRestoreDefault(PanelState&) {
    if (!m_prompter.confirm(msg::kRestoreDefault)) return;
    if (send(restoreDefaultCommand())) m_decoder.requestStatusAtNextCr(m_activePort);
}

void ShutterPanel::onSaveConfigToController(PanelState&) {
    if (m_prompter.confirm(msg::kSaveConfig)) send(saveConfigCommand());
}

void ShutterPanel::onClear(PanelState& s) { s.log.clear(); }

// ---- received bytes ---------------------------------------------------------

void ShutterPanel::followRun(PanelState& s, int runMode) {
    m_decoder.followRun(runMode, s.shutterPosition, m_activePort);
}

RxResult ShutterPanel::onPortRxChar(PanelState& s, int byte, int port) {
    rx(s);
    return m_decoder.onPortRxChar(byte, port);
}

void ShutterPanel::Rx::logLine(std::string_view line) {
    state->log.append(line);
    if (m_panel.m_observer) m_panel.m_observer->logLine(line);
}

void ShutterPanel::Rx::onlineReply(int port) {
    m_panel.m_activePort = port;
    state->ports[static_cast<std::size_t>(port - 1)].status = kReadyText;
    if (m_panel.m_observer) m_panel.m_observer->onlineReply(port);
}

void ShutterPanel::Rx::statusField(const StatusRecord& r, StatusField field) { renderStatusField(*state, r, field); }

void ShutterPanel::Rx::statusComplete(const StatusRecord& r) {
    renderStatusComplete(*state, r);
    if (m_panel.m_observer) m_panel.m_observer->statusComplete(r);
}

void ShutterPanel::Rx::infoComplete(std::string_view first, std::string_view second) {
    if (m_panel.m_observer) m_panel.m_observer->infoComplete(first, second);
}

void ShutterPanel::Rx::flowEnded(Flow flow, int port) {
    if (m_panel.m_observer) m_panel.m_observer->flowEnded(flow, port);
}

RunView ShutterPanel::Rx::runView() { return {state->repeatText, state->leftCycleText, state->triggerMode}; }

void ShutterPanel::Rx::runReport(const RunReport& report) {
    // "Open" and "Close" follow every shutter report during a run.
    state->shutterPosition = report.shutterPosition;
    state->leftCycleText = report.leftCycleText;
    if (m_panel.m_observer) m_panel.m_observer->runReport(report);
}

void ShutterPanel::Rx::runEnded() {
    state->leftCycleText = state->repeatText;
    if (m_panel.m_observer) m_panel.m_observer->runEnded();
}

void ShutterPanel::Rx::statusRequestDue() { m_panel.sendTo(m_panel.m_activePort, statusCommand()); }

std::optional<Command> ShutterPanel::Rx::applyStepDue(ApplyStep step) {
    // Each step goes out with the panel as it is now; a value turned invalid
    // since the start (a repeat text typed meanwhile) stops the download.
    const ControllerSettings now = *state;
    if (const auto refused = checkApplyStep(step, now)) {
        logLine(std::string("Apply stopped: ") + *refused);
        return std::nullopt;
    }
    if (step == ApplyStep::RunningOption) {
        // The download has ended; a Go or On Trigger Pulse run is followed.
        const int runMode = now.runningOption == 1 || now.runningOption == 2 ? now.runningOption : 0;
        m_panel.m_decoder.followRun(runMode, now.shutterPosition, m_panel.m_activePort);
    }
    const std::optional<Command> command = applyStepCommand(step, now);
    if (!command || !m_panel.sendTo(m_panel.m_activePort, *command)) return std::nullopt;
    return command;
}

}  // namespace veltra
