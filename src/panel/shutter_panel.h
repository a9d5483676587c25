#pragma once

#include "model/panel_state.h"
#include "panel/field_checks.h"
#include "panel/panel_render.h"
#include "panel/prompter.h"
#include "protocol/command_sink.h"
#include "protocol/reply_decoder.h"

#include <optional>
#include <string>

namespace veltra {

// The operator's actions as plain C++. Every action takes the panel state as
// the view has just read it, changes it, sends at most the commands its
// control sends, and leaves the state for the view to show.
class ShutterPanel {
public:
    ShutterPanel(CommandSink& sink, Prompter& prompter);

    // The port every command goes to, 1..4; 0 while no port has opened.
    int activePort() const { return m_activePort; }
    void setActivePort(int port) { m_activePort = port; }
    // What the decoder is waiting for (read-only: flows are started and
    // ended by the actions and by the ports).
    const ReplyDecoder& decoder() const { return m_decoder; }
    // Also told what the decoder reports, after the panel has rendered it (a
    // script's client waits on these).
    void setObserver(DecoderListener* observer) { m_observer = observer; }
    // Follows a run already under way on the active port (a script that
    // joins a run it did not start): Go (2) or On Trigger Pulse (1), counted
    // from the left cycle number shown, at each report of the shutter
    // position shown.
    void followRun(PanelState& s, int runMode);

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
    // A port lost by portLost is open again by itself (the device came back at
    // the same path, same line settings): shown as reopened, Online goes out,
    // and the controller's echo makes it ready again if it is the active port.
    void portReconnected(PanelState& s, int port);

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
    // A whole group at once, as a script chooses it (Off unchecks the box).
    void setTrigger(PanelState& s, TriggerInput input);
    void setSync(PanelState& s, SyncOutput output);

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
    RxResult onPortRxChar(PanelState& s, int byte, int port);

private:
    // The decoder's results rendered into the panel state being handled.
    class Rx : public DecoderListener {
    public:
        explicit Rx(ShutterPanel& panel) : m_panel(panel) {}
        PanelState* state = nullptr;
        void logLine(std::string_view line) override;
        void onlineReply(int port) override;
        void statusField(const StatusRecord& r, StatusField field) override;
        void statusComplete(const StatusRecord& r) override;
        RunView runView() override;
        void runReport(const RunReport& report) override;
        void runEnded() override;
        void statusRequestDue() override;
        std::optional<Command> applyStepDue(ApplyStep step) override;
        void infoComplete(std::string_view first, std::string_view second) override;
        void flowEnded(Flow flow, int port) override;

    private:
        ShutterPanel& m_panel;
    };
    // Binds the state for the decoder's calls made while it is handled.
    Rx& rx(PanelState& s) {
        m_rx.state = &s;
        return m_rx;
    }

    // Sends to the active port; tells the operator when it could not.
    bool send(const Command& c);
    // Sends to `port` without telling anyone; what was sent is noted for its echo.
    bool sendTo(int port, const Command& c);
    void warnNotSent();
    // Fast or Soft: labels, the mode command, then the cycle time.
    void chooseMode(PanelState& s, int mode);
    // A port closed or reopened: the flows waiting on it end.
    void endFlowsOn(PanelState& s, int port, const char* why);

    int m_activePort = 0;
    DecoderListener* m_observer = nullptr;
    CommandSink& m_sink;
    Prompter& m_prompter;
    Rx m_rx{*this};
    ReplyDecoder m_decoder{m_rx};
};

// The settings a download sends, as the panel shows them now.

}  // namespace veltra
