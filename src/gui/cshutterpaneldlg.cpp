#include "gui/cshutterpaneldlg.h"

#include "gui/panel_controls.h"
#include "gui/port_memory.h"
#include "gui/cportsettingsdlg.h"
#include "gui/qt_prompter.h"
#include "gui/log_view.h"
#include "gui/resources.h"
#include "gui/status_log.h"
#include "gui/track_bar.h"
#include "serial/ccomportlink.h"
#include "serial/open_failure.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QAbstractSlider>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>

#include <utility>

namespace veltra {

namespace {

// Start-up line settings: COM1 at 9600 baud, the others at 19200; no parity,
// 8 data bits, 1 stop bit, received bytes and their batches reported, 512-byte buffer.
constexpr int startupBaud(int port) { return port == 1 ? 9600 : 19200; }
constexpr char kStartupParity = 'N';
constexpr int kStartupDataBits = 8;
constexpr int kStartupStopBits = 1;
constexpr int kStartupSendBuffer = 512;

// Received bytes reach the widgets at most this long after they came.
constexpr int kRefreshMs = 33;

QString qs(const std::string& s) { return QString::fromStdString(s); }

// Writes a text only when it differs, so an unchanged edit keeps its cursor.
void setText(QLineEdit* e, const std::string& text) {
    const QString t = qs(text);
    if (e->text() != t)
        e->setText(t);
}

}  // namespace

CShutterPanelDlg::CShutterPanelDlg(PanelOptions options, QWidget* parent)
    : TableDialog(kPanelControls, Frame::Scrollable, parent),
      m_options(std::move(options)),
      m_ownPrompter(m_options.prompter ? nullptr : std::make_unique<QtPrompter>(this)),
      m_ports(this),
      m_panel(m_ports, m_options.prompter ? *m_options.prompter : *m_ownPrompter),
      m_parked(m_options.parkLimit) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(appIcon());
    scrollArea()->setFocusPolicy(Qt::NoFocus);

    // The window opens at the template's size, or as much of it as the screen holds.
    QSize size = templateSize();
    if (const QScreen* sc = screen()) {
        const QSize room = sc->availableGeometry().size() - QSize(16, 48);
        size = size.boundedTo(room);
    }
    resize(size);

    m_state.log.setMaxLines(m_options.logLines);
    m_panel.setObserver(&m_readyWatcher);
    setUpControls();
    connectActions();
    connectLinks();
    watchOperatorInput();
    // Received bytes reach the widgets at most 30 times a second however
    // fast they come: one redraw for all that came within 33 ms of the first
    // byte waiting, so every byte is on screen within 50 ms at a fraction of
    // the cost of drawing each batch. A redraw costs far more than a wake-up,
    // so none comes before it is due (a precise timer: a coarse one may
    // fire a few ms late).
    m_showTimer = new QTimer(this);
    m_showTimer->setObjectName(QStringLiteral("viewRefresh"));
    m_showTimer->setSingleShot(true);
    m_showTimer->setTimerType(Qt::PreciseTimer);
    m_showTimer->setInterval(kRefreshMs);
    connect(m_showTimer, &QTimer::timeout, this, &CShutterPanelDlg::flushShow);
}

CShutterPanelDlg::~CShutterPanelDlg() {
    // No link may call into a panel that is going away.
    for (int port = 1; port <= kPortCount; ++port) {
        CComPortLink& link = m_ports.link(port);
        link.setByteHandler({});
        link.setBatchHandler({});
        link.setErrorReporter({});
        link.setClosedHandler({});
        link.setReconnectedHandler({});
    }
}

void CShutterPanelDlg::setUpControls() {
    // Radio groups: a radio that starts a group and the radios right after it.
    RadioGroup* current = nullptr;
    const auto rows = kPanelControls.controls;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].kind != ControlKind::Radio) {
            current = nullptr;
            continue;
        }
        auto* radio = static_cast<QRadioButton*>(controls()[i]);
        if ((rows[i].flags & kGroupStart) || !current) {
            current = &m_groups[rows[i].id];
            current->group = new QButtonGroup(this);
            current->group->setExclusive(true);
        }
        current->group->addButton(radio, static_cast<int>(current->buttons.size()));
        current->buttons.push_back(radio);
    }

    for (int f = 0; f < kTimerFieldCount; ++f) {
        m_timeEdits[f] = control<QLineEdit>(kTimeEditIds[f]);
        m_sliders[f] = control<TrackBar>(kTimeSliderIds[f]);
        // The platform's trackbar pages by a fifth of its range.
        m_sliders[f]->setRange(0, kTimerFieldMax[f]);
        m_sliders[f]->setSingleStep(1);
        m_sliders[f]->setPageStep(std::max(1, kTimerFieldMax[f] / 5));
        m_sliders[f]->setValue(0);
    }
    for (int i = 0; i < kPortCount; ++i) {
        m_statusEdits[i] = control<QLineEdit>(ctl::kStatusCom1 + i);
        // The status belongs to the program; the operator only reads it.
        m_statusEdits[i]->setReadOnly(true);
    }
    m_repeatEdit = control<QLineEdit>(ctl::kRepeatEdit);
    m_leftCycleEdit = control<QLineEdit>(ctl::kLeftCycleEdit);
    m_timerSelect = control<QComboBox>(ctl::kTimerSelect);
    for (const char* item : kTimerSelectItems)
        m_timerSelect->addItem(QString::fromUtf8(item));
    m_timerSelect->setCurrentIndex(-1);
    m_triggerPulse = control<QCheckBox>(ctl::kTriggerPulse);
    m_syncPulse = control<QCheckBox>(ctl::kSyncPulse);
    m_ndRadio = control<QRadioButton>(ctl::kNeutralDensity);
    m_delayLabel = control<QLabel>(ctl::kDelayLabel);
    m_exposureLabel = control<QLabel>(ctl::kExposureLabel);
    m_openingLabel = control<QLabel>(ctl::kOpeningLabel);
    m_closingLabel = control<QLabel>(ctl::kClosingLabel);
    m_cycleLabel = control<QLabel>(ctl::kCycleLabel);

    m_list = control<LogView>(ctl::kReceivedList);

    // The panel opens with the focus on the received-data list, where Enter
    // does nothing; "Exit", first in the tab order, would end the panel.
    m_list->setFocus(Qt::OtherFocusReason);
    control<QPushButton>(ctl::kExit)->installEventFilter(this);
}

void CShutterPanelDlg::onButton(int id, void (ShutterPanel::*action)(PanelState&)) {
    auto* b = control<QAbstractButton>(id);
    connect(b, &QAbstractButton::clicked, this, [this, action] {
        act([this, action](PanelState& s) { (m_panel.*action)(s); });
    });
}

void CShutterPanelDlg::connectActions() {
    connect(control<QPushButton>(ctl::kExit), &QPushButton::clicked, this, &CShutterPanelDlg::accept);

    // Push buttons.
    onButton(ctl::kOnline, &ShutterPanel::onOnline);
    onButton(ctl::kStatus, &ShutterPanel::onStatus);
    onButton(ctl::kReset, &ShutterPanel::onReset);
    onButton(ctl::kGetInfo, &ShutterPanel::onGetControllerInfo);
    onButton(ctl::kPowerOff, &ShutterPanel::onPowerOff);
    onButton(ctl::kPowerOn, &ShutterPanel::onPowerOn);
    onButton(ctl::kStop, &ShutterPanel::onStop);
    onButton(ctl::kApply, &ShutterPanel::onApply);
    onButton(ctl::kRestoreDefault, &ShutterPanel::onRestoreDefault);
    onButton(ctl::kSaveConfigToController, &ShutterPanel::onSaveConfigToController);
    onButton(ctl::kSendRepeat, &ShutterPanel::onSendRepeat);
    onButton(ctl::kSetTimer, &ShutterPanel::onSetTimer);
    onButton(ctl::kSaveConfigFile, &ShutterPanel::onSaveConfigFile);
    onButton(ctl::kLoadConfigFile, &ShutterPanel::onLoadConfigFile);
    onButton(ctl::kClear, &ShutterPanel::onClear);

    // Radios and check boxes: `clicked` comes from the operator only, never
    // from the panel's own writes.
    onButton(ctl::kOpen, &ShutterPanel::onOpen);
    onButton(ctl::kClose, &ShutterPanel::onClose);
    onButton(ctl::kFast, &ShutterPanel::onFast);
    onButton(ctl::kSoft, &ShutterPanel::onSoft);
    // The mode the group showed before this click: a cancelled steps dialog
    // puts it back.
    connect(m_ndRadio, &QAbstractButton::clicked, this, [this] {
        const int modeBefore = m_state.shutterMode;
        act([this, modeBefore](PanelState& s) { m_panel.onNeutralDensity(s, modeBefore); });
    });
    onButton(ctl::kTriggerPulse, &ShutterPanel::onTriggerPulse);
    onButton(ctl::kSyncPulse, &ShutterPanel::onSyncPulse);
    const auto wireGroup = [this](int firstId, void (ShutterPanel::*action)(PanelState&, int)) {
        const RadioGroup& g = m_groups.at(firstId);
        for (std::size_t i = 0; i < g.buttons.size(); ++i) {
            const int index = static_cast<int>(i);
            connect(g.buttons[i], &QAbstractButton::clicked, this, [this, action, index] {
                act([this, action, index](PanelState& s) { (m_panel.*action)(s, index); });
            });
        }
    };
    wireGroup(ctl::kEnableOnHigh, &ShutterPanel::onTriggerRadio);
    wireGroup(ctl::kHighForOpen, &ShutterPanel::onSyncRadio);
    wireGroup(ctl::kOnPowerUp, &ShutterPanel::onRunningOption);

    // Timer editor. A choice the operator makes with the mouse or the keys
    // changes the index and then raises `activated`; one made through the
    // accessibility interface only changes the index; choosing the item
    // already shown only raises `activated`. Each choice runs the handler once.
    // (show() blocks the combo's signals, so these are all the operator's.)
    connect(m_timerSelect, &QComboBox::currentIndexChanged, this, [this] {
        m_timerChoiceHandled = true;
        QTimer::singleShot(0, this, [this] { m_timerChoiceHandled = false; });
        act([this](PanelState& s) { m_panel.showSelectedTimer(s); });
    });
    connect(m_timerSelect, &QComboBox::activated, this, [this] {
        if (std::exchange(m_timerChoiceHandled, false))
            return;
        act([this](PanelState& s) { m_panel.showSelectedTimer(s); });
    });
    for (int f = 0; f < kTimerFieldCount; ++f) {
        // The field checks run on textEdited alone: only the operator's typing
        // raises it. The panel's own writes (show) never do, so emptying or
        // filling a field never runs a nested check.
        connect(m_timeEdits[f], &QLineEdit::textEdited, this,
                [this, f] { act([this, f](PanelState& s) { m_panel.onTimeFieldEdited(s, f); }); });
        connect(m_sliders[f], &TrackBar::released, this,
                [this, f] { act([this, f](PanelState& s) { m_panel.onSliderReleased(s, f); }); });
    }

    for (int port = 1; port <= kPortCount; ++port) {
        connect(control<QPushButton>(ctl::kConfigurateCom1 + port - 1), &QPushButton::clicked, this,
                [this, port] { configurate(port); });
    }
}

void CShutterPanelDlg::connectLinks() {
    for (int port = 1; port <= kPortCount; ++port) {
        CComPortLink& link = m_ports.link(port);
        link.setByteHandler([this](int byte, int from) { receiveByte(byte, from); });
        link.setBatchHandler([this](int) { showIfDue(); });
        link.setErrorReporter([this, &link, port](const QString& text) {
            // A device gone is reported with the port closed already: the
            // field says so before the box comes up.
            if (!link.isOpen())
                showPortClosed(port, link.isReconnecting() ? QString::fromUtf8("Reconnecting\u2026") : QString());
            reportLinkError(port, text);
        });
        // Each of these may wait behind a box; by then the link may have been
        // reopened, and only what still holds is shown.
        link.setClosedHandler([this, &link](int from, const QString& reason) {
            std::string why = link.isReconnecting() ? std::string("Reconnecting\u2026") : reason.toStdString();
            // A network connection OpenLink began and could not make: told as
            // an opening that failed.
            if (!link.isReconnecting() && !link.lastOpenError().isEmpty())
                why = portFailure(from);
            showPortClosed(from, QString::fromStdString(why));
            const quint64 generation = link.generation();
            act([this, &link, from, why, generation](PanelState& s) {
                if (link.generation() == generation)
                    m_panel.portLost(s, from, why);
            });
        });
        link.setReconnectedHandler([this, &link](int from) {
            watchSteady(from);
            const quint64 generation = link.generation();
            act([this, &link, from, generation](PanelState& s) {
                if (link.generation() == generation)
                    m_panel.portReconnected(s, from);
            });
        });
    }
}

void CShutterPanelDlg::reportLinkError(int port, const QString& text) {
    const CComPortLink& link = m_ports.link(port);
    PortReports& reports = m_reports[static_cast<std::size_t>(port - 1)];
    // The device went away; the link tries it again every second.
    const bool lost = !link.isOpen() && link.isReconnecting();
    if (reports.boxUp || reports.quiet) {
        // Told already. A loss is in the status field and the traffic log
        // ("closed: ..."); anything else goes to the traffic log here.
        if (!lost) {
            QString line = text.simplified();
            if (line.startsWith(QLatin1String("WARNING: ")))
                line = line.mid(9);
            m_ports.logEvent(port, QStringLiteral("error, no box: ") + line);
        }
        reports.quiet = reports.quiet || lost;
        return;
    }
    reports.quiet = lost;
    reports.boxUp = true;
    QTimer::singleShot(0, this, [this, port, text] {
        showErrorBox(this, QStringLiteral("Application Error"), text);
        m_reports[static_cast<std::size_t>(port - 1)].boxUp = false;
    });
}

void CShutterPanelDlg::watchSteady(int port) {
    const CComPortLink& link = m_ports.link(port);
    const quint64 generation = link.generation();
    QTimer::singleShot(m_options.steadyMs, this, [this, &link, port, generation] {
        if (link.generation() == generation && link.isOpen())
            m_reports[static_cast<std::size_t>(port - 1)].quiet = false;
    });
}

void CShutterPanelDlg::ReadyWatcher::onlineReply(int) {
    // The answering port is the active one now: Status goes to it, as the
    // "Status" button sends it.
    m_dlg.m_panel.onStatus(m_dlg.m_state);
}

void CShutterPanelDlg::showPortClosed(int port, const QString& tooltip) {
    // At once, even while an action waits in a box: the status field is the
    // program's own, so the state and the widget change together.
    const auto i = static_cast<std::size_t>(port - 1);
    PortView& view = m_state.ports[i];
    view.status = "Disconnected";
    view.enabled = false;
    if (!tooltip.isEmpty())
        view.tooltip = tooltip.toStdString();
    QLineEdit* e = m_statusEdits[i];
    setText(e, view.status);
    e->setEnabled(false);
    e->setToolTip(qs(view.tooltip));
    m_shown.ports[i] = view;
}

void CShutterPanelDlg::startUp() {
    if (m_started)
        return;
    m_started = true;
    act([this](PanelState& s) {
        m_panel.initialise(s);
        for (int port = 1; port <= kPortCount; ++port) {
            CComPortLink& link = m_ports.link(port);
            // A device given for this run wins; else what "Configurate" chose last time; else the default.
            RememberedPort start{m_options.devices[static_cast<std::size_t>(port - 1)],
                                 {startupBaud(port), kStartupParity, kStartupDataBits, kStartupStopBits,
                                  kStartupSendBuffer}};
            if (start.device.isEmpty() && m_options.portMemory)
                start = rememberedPort(*m_options.portMemory, port, start);
            const PortSettingsRequest& r = start.line;
            link.setDeviceName(start.device);
            if (link.OpenLink(port, r.baudRate, r.parity, r.dataBits, r.stopBits, kPanelEventMask, r.sendBufferSize)) {
                link.StartMonitor();
                m_panel.portOpenedAtStartup(s, port);
            } else if (link.isConnecting()) {
                // A network port: it opens by itself once connected (the reconnected handler).
                m_panel.portFailedAtStartup(s, port, portConnecting(port));
            } else {
                m_panel.portFailedAtStartup(s, port, portFailure(port));
            }
        }
    });
}

void CShutterPanelDlg::configurate(int port) {
    act([this, port](PanelState& s) {
        CComPortLink& link = m_ports.link(port);
        CPortSettingsDlg dlg(link.GetLineSettings(), this);
        dlg.setSendBufferText(QString::number(link.GetSendBufferSize()));
        dlg.setDeviceName(link.deviceName());
        dlg.setPortNumber(port);
        const quint32 eventMask = link.GetEventMask();
        if (dlg.exec() != QDialog::Accepted)
            return;
        const QString device = dlg.deviceName();
        if (device != link.deviceName())
            link.setDeviceName(device);
        const PortSettingsRequest r = convertDialogTexts(dlg.baudText(), dlg.parityText(), dlg.dataBitsText(),
                                                         dlg.stopBitsText(), dlg.sendBufferText());
        if (m_options.portMemory)
            rememberPort(*m_options.portMemory, port, {device, r});
        // What the port received while the dialog was open came before the reopening.
        decodeParked(s, port, m_parked.marks()[static_cast<std::size_t>(port - 1)]);
        // The operator's own choice: its failures are new ones.
        m_reports[static_cast<std::size_t>(port - 1)].quiet = false;
        const bool opened =
            link.OpenLink(port, r.baudRate, r.parity, r.dataBits, r.stopBits, eventMask, r.sendBufferSize);
        // A port that did not open gets no monitor: there is nothing to watch.
        if (opened) {
            link.StartMonitor();
            // As a network port that connects: Online, and the status read
            // when the controller answers.
            m_panel.portReconnected(s, port);
            return;
        }
        m_panel.portReopened(s, port, false, link.isConnecting() ? portConnecting(port) : portFailure(port));
    });
}

std::string CShutterPanelDlg::portConnecting(int port) const {
    return portFailureLine(port, m_ports.link(port).deviceName(), m_ports.link(port).lastOpenError()).toStdString();
}

std::string CShutterPanelDlg::portFailure(int port) {
    const CComPortLink& link = m_ports.link(port);
    const QString line = portFailureLine(port, link.deviceName(), link.lastOpenError());
    if (m_options.portFailureReporter)
        m_options.portFailureReporter(line);
    return line.toStdString();
}

void CShutterPanelDlg::act(const std::function<void(PanelState&)>& action) { perform(action, true); }

void CShutterPanelDlg::receiveByte(int byte, int port) {
    if (m_acting) {
        // An action waits in a box: the byte waits too, as one raw byte.
        m_parked.park(port, static_cast<std::uint8_t>(byte));
        return;
    }
    // As perform() does for an action, without wrapping each byte in one.
    m_acting = true;
    if (m_operatorTouched) {
        flushShow();
        read(m_state);
        m_operatorTouched = false;
    }
    m_panel.onPortRxChar(m_state, byte, port);
    scheduleShow();
    runDeferred();
    m_acting = false;
}

void CShutterPanelDlg::perform(const std::function<void(PanelState&)>& action, bool showNow) {
    if (m_acting) {
        // An action waits in a message box: this one follows it, in order,
        // after the bytes parked before it.
        if (!m_parked.empty())
            m_deferred.push_back({{}, m_parked.marks()});
        m_deferred.push_back({action, {}});
        return;
    }
    m_acting = true;
    runAction(action, showNow);
    runDeferred();
    m_acting = false;
}

void CShutterPanelDlg::runDeferred() {
    while (!m_deferred.empty() || !m_parked.empty()) {
        if (m_deferred.empty()) {
            runParked(m_parked.marks());
            continue;
        }
        const Deferred next = std::move(m_deferred.front());
        m_deferred.pop_front();
        if (next.action)
            runAction(next.action, true);
        else
            runParked(next.marks);
    }
}

void CShutterPanelDlg::runParked(const std::array<std::uint64_t, kPortCount>& marks) {
    // One batch, one redraw, whatever the line sent meanwhile.
    runAction(
        [this, &marks](PanelState& s) {
            for (int port = 1; port <= kPortCount; ++port)
                decodeParked(s, port, marks[static_cast<std::size_t>(port - 1)]);
        },
        true);
}

void CShutterPanelDlg::decodeParked(PanelState& s, int port, std::uint64_t mark) {
    const std::uint64_t dropped = m_parked.takeDropped(port);
    for (const std::uint8_t byte : m_parked.take(port, mark))
        m_panel.onPortRxChar(s, byte, port);
    // Told after the batch: a batch longer than the list's line cap would
    // push out a notice written before it.
    if (dropped)
        s.log.append("--- COM" + std::to_string(port) + ": " + std::to_string(dropped) +
                     " received bytes dropped while a box was open ---");
}

void CShutterPanelDlg::runAction(const std::function<void(PanelState&)>& action, bool showNow) {
    // The widgets must show the state before they are read back into it.
    if (showNow || m_operatorTouched) {
        flushShow();
        read(m_state);
        m_operatorTouched = false;
    }
    action(m_state);
    if (showNow) {
        m_showPending = true;
        flushShow();
    } else {
        scheduleShow();
    }
}

void CShutterPanelDlg::scheduleShow() {
    if (m_showPending)
        return;
    m_showPending = true;
    m_showTimer->start();
    m_pendingSince.start();
}

void CShutterPanelDlg::flushShow() {
    if (!m_showPending)
        return;
    m_showPending = false;
    m_showTimer->stop();
    show(m_state);
}

void CShutterPanelDlg::showIfDue() {
    // A read that comes once the refresh is due, before its timer has
    // fired, shows what waits first: the new bytes start the next one.
    if (m_showPending && !m_acting && m_pendingSince.elapsed() >= kRefreshMs)
        flushShow();
}

void CShutterPanelDlg::watchOperatorInput() {
    // show() blocks the signals of every control it writes, so any of these
    // signals is the operator's doing (typing, clicking, dragging, or an
    // assistive tool acting for them).
    const auto touched = [this] { m_operatorTouched = true; };
    for (QObject* o : findChildren<QObject*>()) {
        if (auto* e = qobject_cast<QLineEdit*>(o))
            connect(e, &QLineEdit::textChanged, this, touched);
        else if (auto* b = qobject_cast<QAbstractButton*>(o))
            connect(b, &QAbstractButton::toggled, this, touched);
        else if (auto* sl = qobject_cast<QAbstractSlider*>(o); sl && !qobject_cast<QScrollBar*>(o))
            connect(sl, &QAbstractSlider::valueChanged, this, touched);  // scroll bars hold no state
        else if (auto* c = qobject_cast<QComboBox*>(o))
            connect(c, &QComboBox::currentIndexChanged, this, touched);
    }
}

int CShutterPanelDlg::groupIndex(int firstId) const {
    const RadioGroup& g = m_groups.at(firstId);
    for (std::size_t i = 0; i < g.buttons.size(); ++i) {
        if (g.buttons[i]->isChecked())
            return static_cast<int>(i);
    }
    return -1;
}

void CShutterPanelDlg::setGroupIndex(int firstId, int index) {
    const RadioGroup& g = m_groups.at(firstId);
    if (index >= 0 && static_cast<std::size_t>(index) < g.buttons.size()) {
        const QSignalBlocker block(g.buttons[static_cast<std::size_t>(index)]);
        g.buttons[static_cast<std::size_t>(index)]->setChecked(true);
        return;
    }
    // None checked: an exclusive group keeps one button on, so it lets go for
    // the moment it takes to clear them all.
    g.group->setExclusive(false);
    for (QRadioButton* b : g.buttons) {
        const QSignalBlocker block(b);
        b->setChecked(false);
    }
    g.group->setExclusive(true);
}

void CShutterPanelDlg::read(PanelState& s) {
    s.shutterPosition = groupIndex(ctl::kOpen);
    s.shutterMode = groupIndex(ctl::kFast);
    s.triggerMode = groupIndex(ctl::kEnableOnHigh);
    s.syncMode = groupIndex(ctl::kHighForOpen);
    s.runningOption = groupIndex(ctl::kOnPowerUp);
    s.triggerPulseChecked = m_triggerPulse->isChecked();
    s.syncPulseChecked = m_syncPulse->isChecked();
    s.repeatText = m_repeatEdit->text().toStdString();
    for (int f = 0; f < kTimerFieldCount; ++f) {
        s.editedTime.field(f) = m_timeEdits[f]->text().toStdString();
        s.sliders[f] = m_sliders[f]->value();
    }
    s.timerSelectIndex = m_timerSelect->currentIndex();

    // The widgets show what was just read: the shadow follows, so the next
    // show() puts back whatever the action changes.
    static_cast<ControllerSettings&>(m_shown) = s;
    m_shown.triggerPulseChecked = s.triggerPulseChecked;
    m_shown.syncPulseChecked = s.syncPulseChecked;
    m_shown.editedTime = s.editedTime;
    m_shown.sliders = s.sliders;
    m_shown.timerSelectIndex = s.timerSelectIndex;
}

// Every write of the show functions is a programmatic one: signals of the
// written widget are blocked, and the panel's actions listen only to signals
// the operator's own input raises (clicked, activated, textEdited, released).
// Each writes only what changed since it was last shown, unless `all`.
void CShutterPanelDlg::show(const PanelState& s) {
    const bool all = m_showAll;
    m_showAll = false;
    showChoices(s, all);
    showFields(s, all);
    showLabels(s, all);
    showPorts(s, all);
    // The log: new lines are appended, a cleared log starts over; the view
    // follows the newest line unless the operator has scrolled up to read.
    m_list->sync(s.log);
}

// The radio groups and the two check boxes.
void CShutterPanelDlg::showChoices(const PanelState& s, bool all) {
    PanelState& was = m_shown;
    const auto group = [&](int firstId, int now, int& shown) {
        if (all || now != shown) {
            setGroupIndex(firstId, now);
            shown = now;
        }
    };
    group(ctl::kOpen, s.shutterPosition, was.shutterPosition);
    group(ctl::kFast, s.shutterMode, was.shutterMode);
    group(ctl::kEnableOnHigh, s.triggerMode, was.triggerMode);
    group(ctl::kHighForOpen, s.syncMode, was.syncMode);
    group(ctl::kOnPowerUp, s.runningOption, was.runningOption);

    const auto check = [&](QCheckBox* box, bool now, bool& shown) {
        if (all || now != shown) {
            const QSignalBlocker block(box);
            box->setChecked(now);
            shown = now;
        }
    };
    check(m_triggerPulse, s.triggerPulseChecked, was.triggerPulseChecked);
    check(m_syncPulse, s.syncPulseChecked, was.syncPulseChecked);
}

// The edits, the sliders and the timer selection.
void CShutterPanelDlg::showFields(const PanelState& s, bool all) {
    PanelState& was = m_shown;
    const auto edit = [&](QLineEdit* e, const std::string& now, std::string& shown) {
        if (all || now != shown) {
            const QSignalBlocker block(e);
            setText(e, now);
            shown = now;
        }
    };
    edit(m_repeatEdit, s.repeatText, was.repeatText);
    edit(m_leftCycleEdit, s.leftCycleText, was.leftCycleText);
    for (int f = 0; f < kTimerFieldCount; ++f) {
        edit(m_timeEdits[f], s.editedTime.field(f), was.editedTime.field(f));
        const auto i = static_cast<std::size_t>(f);
        if (all || s.sliders[i] != was.sliders[i]) {
            const QSignalBlocker block(m_sliders[f]);
            m_sliders[f]->setValue(s.sliders[i]);
            was.sliders[i] = s.sliders[i];
        }
    }
    if (all || s.timerSelectIndex != was.timerSelectIndex) {
        const QSignalBlocker block(m_timerSelect);
        m_timerSelect->setCurrentIndex(s.timerSelectIndex < m_timerSelect->count() ? s.timerSelectIndex : -1);
        was.timerSelectIndex = s.timerSelectIndex;
    }
}

// The captions and labels the panel computes.
void CShutterPanelDlg::showLabels(const PanelState& s, bool all) {
    PanelState& was = m_shown;
    const auto label = [&](auto* w, const std::string& now, std::string& shown) {
        if (all || now != shown) {
            w->setText(qs(now));
            shown = now;
        }
    };
    label(m_ndRadio, s.ndCaption, was.ndCaption);
    label(m_openingLabel, s.openingLabel, was.openingLabel);
    label(m_closingLabel, s.closingLabel, was.closingLabel);
    label(m_delayLabel, s.delayLabel, was.delayLabel);
    label(m_exposureLabel, s.exposureLabel, was.exposureLabel);
    label(m_cycleLabel, s.cycleLabel, was.cycleLabel);
}

// The four COM status fields: text, enabled state and tooltip.
void CShutterPanelDlg::showPorts(const PanelState& s, bool all) {
    PanelState& was = m_shown;
    for (int i = 0; i < kPortCount; ++i) {
        const PortView& now = s.ports[static_cast<std::size_t>(i)];
        PortView& shown = was.ports[static_cast<std::size_t>(i)];
        QLineEdit* e = m_statusEdits[static_cast<std::size_t>(i)];
        if (all || now.status != shown.status) {
            setText(e, now.status);
            if (now.status != shown.status)
                qCInfo(lcStatus, "COM%d: %s", i + 1, now.status.c_str());
        }
        if (all || now.enabled != shown.enabled)
            e->setEnabled(now.enabled);
        // An open port's tooltip says what it is connected to.
        // Composed only when what it says may have changed.
        const bool deviceTip = now.enabled && now.tooltip.empty();
        const QString device = deviceTip ? m_ports.link(i + 1).deviceName() : QString();
        QString& shownDevice = m_shownDevices[static_cast<std::size_t>(i)];
        if (all || now.enabled != shown.enabled || now.tooltip != shown.tooltip || device != shownDevice) {
            const QString tip = deviceTip ? QStringLiteral("COM%1: %2").arg(i + 1).arg(device) : qs(now.tooltip);
            if (all || e->toolTip() != tip)
                e->setToolTip(tip);
            shownDevice = device;
        }
        shown = now;
    }
}

LogView* CShutterPanelDlg::receivedList() const { return m_list; }

void CShutterPanelDlg::accept() {
    // "Exit" and the window's close button end the program with status -1,
    // after the controls were read once more; a running download is not
    // cut off without the operator's word.
    if (m_panel.decoder().applyInProgress()) {
        Prompter& prompter = m_options.prompter ? *m_options.prompter : *m_ownPrompter;
        if (!prompter.confirm("An Apply download is in progress. Exit anyway?") || !isVisible())
            return;
    }
    flushShow();
    read(m_state);
    m_exitStatus = -1;
    QDialog::accept();
}

void CShutterPanelDlg::reject() {}

void CShutterPanelDlg::quit(int exitStatus) {
    m_exitStatus = exitStatus;
    QDialog::done(QDialog::Accepted);
    // Leaves the panel's loop and every box's nested one; a box opened after
    // this returns at once.
    QCoreApplication::exit(exitStatus);
}

void CShutterPanelDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // A push button with the focus has pressed itself already; Enter
        // anywhere else (a text field) presses no default button.
        event->accept();
        return;
    default:
        TableDialog::keyPressEvent(event);
    }
}

bool CShutterPanelDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched != control(ctl::kExit))
        return TableDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        switch (static_cast<QFocusEvent*>(event)->reason()) {
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::MouseFocusReason:
        case Qt::ShortcutFocusReason:
            m_exitChosen = event->type() == QEvent::FocusIn;
            break;
        case Qt::ActiveWindowFocusReason:
        case Qt::PopupFocusReason:
            break;  // a box or menu came and went: the focus is where it was
        default:
            m_exitChosen = false;  // put there by the program, not by the operator
            break;
        }
        break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !m_exitChosen) {
            event->accept();
            return true;
        }
        break;
    }
    default:
        break;
    }
    return TableDialog::eventFilter(watched, event);
}

void CShutterPanelDlg::closeEvent(QCloseEvent* event) {
    if (isVisible())
        accept();
    if (isVisible())
        event->ignore();
    else
        event->accept();
}

}  // namespace veltra
