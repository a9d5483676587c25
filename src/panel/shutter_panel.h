#pragma once

#include "model/panel_state.h"
#include "panel/prompter.h"
#include "protocol/command_sink.h"
#include "protocol/protocol_state.h"
#include "protocol/reply_decoder.h"

#include <optional>
#include <string>

namespace veltra {

// Messages of the panel, exactly as the operator sees them.
namespace msg {
inline constexpr const char* kRepeatFirst = "Please set the repeat number first, then try again!";
inline constexpr const char* kStepsTooMany = "Steps must be less than 145. Please try again!";
inline constexpr const char* kNoSteps = "No steps. Please enter the number!";
inline constexpr const char* kTimerMax = "Timer has reached the maximum value - 5 hours.";
inline constexpr const char* kRestoreDefault =
    "This will restore the factory default configurations for Veltra controller!\nAre you sure?\n\n"
    "Click OK to restore or Cancel to dismiss?";
inline constexpr const char* kSaveConfig =
    "This will save all the current configurations to Veltra controller,\nthe new configurations will "
    "be the initial setting when the controller\npower up next time!\n\nClick OK to save or Cancel to "
    "dismiss?";
inline constexpr const char* kNegativeRepeat =
    "Repeat cycle number must not be negative! Please retype.";
inline constexpr const char* kNegativeSteps = "Steps must not be negative. Please try again!";
inline constexpr const char* kNoPort = "No COM port is connected: the command was not sent.";
// "COM%d is not connected: the command was not sent."
std::string portNotConnected(int port);
// The field's own message when its value is out of range.
const char* fieldLimitMessage(int field);
}  // namespace msg

// The steps dialog's OK check: the message to show, or none when the text
// may pass (any non-empty text whose leading integer is 144 or less).
std::optional<std::string> checkNdSteps(const std::string& steps);

// The operator's actions as plain C++. Every action takes the panel state as
// the view has just read it, changes it, sends at most the commands its
// control sends, and leaves the state for the view to show.
class ShutterPanel {
public:
    ShutterPanel(CommandSink& sink, Prompter& prompter);

    ProtocolState& protocol() { return m_p; }
    const ProtocolState& protocol() const { return m_p; }

    // Start-up: the state the panel shows before any port is tried.
    void initialise(PanelState& s);
    // Start-up, for N = 1..4 in order: the port opened (Online goes out to it,
    // it becomes the active port) or it did not (reason for the tooltip).
    void portOpenedAtStartup(PanelState& s, int port);
    void portFailedAtStartup(PanelState& s, int port, const std::string& reason);
    // After "Configurate" reopened a port (or failed to) and whenever a link
    // closes by itself: the status edit shows the real state.
    void portReopened(PanelState& s, int port, bool opened, const std::string& reason);
    void portLost(PanelState& s, int port, const std::string& reason);

    // Line commands.
    void onOnline(PanelState& s);
    void onStatus(PanelState& s);
    void onReset(PanelState& s);
    void onGetControllerInfo(PanelState& s);
    void onPowerOff(PanelState& s);
    void onPowerOn(PanelState& s);
    // Shutter position and mode radios.
    void onOpen(PanelState& s);
    void onClose(PanelState& s);
    void onFast(PanelState& s);
    void onSoft(PanelState& s);
    // `modeBefore`: the mode group as it stood before the click checked
    // "Neutral Density"; a cancelled steps dialog puts it back.
    void onNeutralDensity(PanelState& s, int modeBefore);
    // Trigger and sync groups (index as in PanelState).
    void onTriggerPulse(PanelState& s);
    void onTriggerRadio(PanelState& s, int index);
    void onSyncPulse(PanelState& s);
    void onSyncRadio(PanelState& s, int index);

    // Timer editor.
    void showSelectedTimer(PanelState& s);
    void onTimeFieldEdited(PanelState& s, int field);     // operator typed into an edit
    void onSliderReleased(PanelState& s, int field);      // position already in s.sliders
    void onSetTimer(PanelState& s);                       // "Set Timer on Controller"

    // Run configuration.
    void onRunningOption(PanelState& s, int index);
    void onSendRepeat(PanelState& s);
    void onStop(PanelState& s);
    void onApply(PanelState& s);
    void onRestoreDefault(PanelState& s);
    void onSaveConfigToController(PanelState& s);

    // Configuration file.
    void onSaveConfigFile(PanelState& s);
    void onLoadConfigFile(PanelState& s);

    // "Clear": empties the received-data log.
    void onClear(PanelState& s);

    // One received byte from COM `port`.
    int onPortRxChar(PanelState& s, int byte, int port) { return m_decoder.onPortRxChar(s, byte, port); }

private:
    // Sends to the active port; tells the operator when it could not.
    bool send(const Command& c);
    void warnNotSent();
    // Fast or Soft: labels, the mode command, then the cycle time.
    void chooseMode(PanelState& s, int mode, const char* openingTime);
    void refreshCycle(PanelState& s);

    ProtocolState m_p;
    CommandSink& m_sink;
    Prompter& m_prompter;
    ReplyDecoder m_decoder;
};

}  // namespace veltra
