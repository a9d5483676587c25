#pragma once

#include "gui/parked_bytes.h"
#include "gui/port_hub.h"
#include "gui/table_dialog.h"
#include "model/panel_state.h"
#include "panel/shutter_panel.h"

#include <QElapsedTimer>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QAbstractItemView;
class QTableView;
class QRadioButton;
class QSettings;
class QTimer;

namespace veltra {

class LogView;
class TrackBar;

struct PanelOptions {
    // Device of each COM slot; empty: the slot's default device.
    std::array<QString, kPortCount> devices{};
    // Who answers the panel's questions; nullptr: real boxes over the panel.
    Prompter* prompter = nullptr;
    // Lines the received-data list keeps.
    std::size_t logLines = ReceivedLog::kDefaultMaxLines;
    // Received bytes each port may park while a box is open.
    std::size_t parkLimit = ParkedBytes::kDefaultLimit;
    // Told one line per port that does not open, at start-up and after a
    // "Configurate": "COM1 (/dev/ttyUSB0): does not exist". May be empty.
    std::function<void(const QString&)> portFailureReporter = {};
    // Where the device and line settings chosen in "Configurate" are kept per
    // COM port, and read at start-up for every port without a device above.
    // nullptr: nothing is remembered.
    QSettings* portMemory = nullptr;
    // A port whose device went away has told it in a box; until the port has
    // stayed open this long again (or the operator reopens it), its further
    // failures show no box: the status field and the traffic log say them.
    int steadyMs = 60000;
};

// The control panel "Veltra Utility - COM v1.12": the view of a PanelState.
// Every operator action and every received byte runs as
// read(state); <panel action>(state); show(state).
class CShutterPanelDlg : public TableDialog {
    Q_OBJECT
public:
    explicit CShutterPanelDlg(PanelOptions options = {}, QWidget* parent = nullptr);
    ~CShutterPanelDlg() override;

    // Start-up: the panel's initial state, then COM1 to COM4 opened in turn.
    void startUp();

    // The operator-editable controls into `s`: radio groups, check boxes,
    // the repeat text, the five time texts, the slider positions, the combo.
    void read(PanelState& s);
    // The whole state onto the widgets, touching only what changed since the
    // last show. `s.log` must stay alive until the next show.
    void show(const PanelState& s);
    using QDialog::show;

    // Runs one action on the panel's state between a read and a show. An
    // action that arrives while another one waits in a nested event loop (a
    // message box) runs when that one has finished.
    void act(const std::function<void(PanelState&)>& action);

    // One received byte from COM `port`, as the link hands it over: decoded
    // at once; the widgets follow at most at display rate, so a fast line
    // never waits for painting. While an action waits in a box or dialog the
    // byte is parked (raw, bounded per port) and decoded with the others in
    // one batch when the box closes.
    void receiveByte(int byte, int port);
    const ParkedBytes& parkedBytes() const { return m_parked; }
    PanelState& state() { return m_state; }
    ShutterPanel& panel() { return m_panel; }
    PortHub& ports() { return m_ports; }
    // The received-data list (a one-column table).
    LogView* receivedList() const;

    // The process's exit status once the panel has ended: -1 after "Exit" or
    // closing the window, as given to quit() otherwise.
    int exitStatus() const { return m_exitStatus; }

    // "Exit" and the close button: the panel ends, after asking while an
    // Apply download is running.
    void accept() override;
    // Escape never ends the panel.
    void reject() override;
    // Ends the panel at once, from any box or dialog open over it (the
    // termination signals): every event loop returns, no question is asked.
    void quit(int exitStatus);

protected:
    void closeEvent(QCloseEvent* event) override;
    // Enter on "Exit" presses it only when the operator has gone there
    // (Tab, a click, its shortcut); Space and a click always do.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Enter and Escape never end the panel; Enter on a focused push button
    // still presses it.
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The parts of show(), each for one kind of control.
    void showChoices(const PanelState& s, bool all);
    void showFields(const PanelState& s, bool all);
    void showLabels(const PanelState& s, bool all);
    void showPorts(const PanelState& s, bool all);

    struct RadioGroup {
        QButtonGroup* group = nullptr;
        std::vector<QRadioButton*> buttons;
    };

    void setUpControls();
    void connectActions();
    void connectLinks();
    void configurate(int port);
    // The port's link has closed: its field reads "Disconnected" now, with
    // `tooltip` (unless empty), before any box or waiting action.
    void showPortClosed(int port, const QString& tooltip);
    // A failure the link of `port` reports: one box at a time per port,
    // shown from the event loop once the link has finished its call (a box's
    // nested loop must not run inside the link's or its socket's handling).
    void reportLinkError(int port, const QString& text);
    // The port's link has come back by itself: once it stays open for
    // steadyMs, a later failure is told in a box again.
    void watchSteady(int port);
    // The reason a port did not open, for its status tooltip and the reporter.
    std::string portFailure(int port);
    // "COMn (DEVICE): connecting…" for a network port still connecting.
    std::string portConnecting(int port) const;
    void onButton(int id, void (ShutterPanel::*action)(PanelState&));
    int groupIndex(int firstId) const;
    void setGroupIndex(int firstId, int index);
    void perform(const std::function<void(PanelState&)>& action, bool showNow);
    void runAction(const std::function<void(PanelState&)>& action, bool showNow);
    // What came while an action or byte was handled, in order.
    void runDeferred();
    // The refresh for received bytes, unless one is waiting already.
    void scheduleShow();
    void runParked(const std::array<std::uint64_t, kPortCount>& marks);
    // The bytes of `port` parked before `mark`, into the decoder.
    void decodeParked(PanelState& s, int port, std::uint64_t mark);
    void flushShow();
    // Before each batch of received bytes: the refresh waiting, when it is nearly due.
    void showIfDue();
    void watchOperatorInput();

    // A port that becomes "Ready for Veltra" has its status read at once, so
    // the panel shows what the controller holds rather than its template.
    class ReadyWatcher : public DecoderListener {
    public:
        explicit ReadyWatcher(CShutterPanelDlg& dlg) : m_dlg(dlg) {}
        void logLine(std::string_view) override {}
        void onlineReply(int port) override;

    private:
        CShutterPanelDlg& m_dlg;
    };

    PanelOptions m_options;
    std::unique_ptr<Prompter> m_ownPrompter;
    PortHub m_ports;
    ShutterPanel m_panel;
    ReadyWatcher m_readyWatcher{*this};
    PanelState m_state;

    // What the widgets showed after the last show() (or read()); the log
    // itself is never copied.
    PanelState m_shown;
    // The device each port's tooltip names, as last shown (empty: none).
    std::array<QString, kPortCount> m_shownDevices{};
    bool m_showAll = true;

    std::map<int, RadioGroup> m_groups;  // by the id of the group's first radio
    std::array<QLineEdit*, kTimerFieldCount> m_timeEdits{};
    std::array<TrackBar*, kTimerFieldCount> m_sliders{};
    std::array<QLineEdit*, kPortCount> m_statusEdits{};
    QLineEdit* m_repeatEdit = nullptr;
    QLineEdit* m_leftCycleEdit = nullptr;
    QComboBox* m_timerSelect = nullptr;
    QCheckBox* m_triggerPulse = nullptr;
    QCheckBox* m_syncPulse = nullptr;
    QRadioButton* m_ndRadio = nullptr;
    QLabel* m_delayLabel = nullptr;
    QLabel* m_exposureLabel = nullptr;
    QLabel* m_openingLabel = nullptr;
    QLabel* m_closingLabel = nullptr;
    QLabel* m_cycleLabel = nullptr;
    LogView* m_list = nullptr;
    QTimer* m_showTimer = nullptr;
    bool m_showPending = false;
    QElapsedTimer m_pendingSince;  // since the first received byte not yet shown
    // Set by any change the operator makes to an editable control; a byte
    // reads the controls only then, as nothing else changes them.
    bool m_operatorTouched = true;
    // The timer choice's index change already ran its handler; the
    // `activated` that follows it is the same choice.
    bool m_timerChoiceHandled = false;

    bool m_acting = false;
    // What came while an action waited in a box, in order: actions, and
    // marks up to which the parked bytes come before the next action.
    struct Deferred {
        std::function<void(PanelState&)> action;  // empty: parked bytes up to `marks`
        std::array<std::uint64_t, kPortCount> marks{};
    };
    std::deque<Deferred> m_deferred;
    ParkedBytes m_parked;
    bool m_started = false;
    int m_exitStatus = 0;
    // Per port: a box of its link is up (or due); its failures are told already.
    struct PortReports {
        bool boxUp = false;
        bool quiet = false;
    };
    std::array<PortReports, kPortCount> m_reports{};
    // The operator moved the focus onto "Exit" (Tab, a click, its shortcut).
    bool m_exitChosen = false;
};

}  // namespace veltra
