// What the accessibility interface reports of the panel and its dialogs, and
// that acting through it is acting on the controller; the list's copy; why a
// port did not open.

#include "gui/cndstepsdlg.h"
#include "gui/cportsettingsdlg.h"
#include "gui/cshutterpaneldlg.h"
#include "gui/log_view.h"
#include "gui/panel_template.h"
#include "model/received_log.h"
#include "modal_watcher.h"
#include "serial/open_failure.h"
#include "serial/pty_pair.h"
#include "support/fakes.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QMenu>
#include <QTemporaryFile>
#include <QTest>

#include <gtest/gtest.h>

namespace veltra {
namespace {

QAccessibleInterface* acc(QObject* o) { return QAccessible::queryAccessibleInterface(o); }
QString name(QAccessibleInterface* i) { return i ? i->text(QAccessible::Name) : QStringLiteral("<none>"); }

PanelOptions ports(const QString& com1, Prompter* prompter = nullptr) {
    PanelOptions o;
    o.devices = {com1, "/nonexistent/veltra-com2", "/nonexistent/veltra-com3", "/nonexistent/veltra-com4"};
    o.prompter = prompter;
    return o;
}

QAccessible::Role roleOf(ControlKind kind) {
    switch (kind) {
    case ControlKind::DefPushButton:
    case ControlKind::PushButton: return QAccessible::Button;
    case ControlKind::ListBox: return QAccessible::List;
    case ControlKind::Label: return QAccessible::StaticText;
    case ControlKind::Edit: return QAccessible::EditableText;
    case ControlKind::GroupBox: return QAccessible::Grouping;
    case ControlKind::Radio: return QAccessible::RadioButton;
    case ControlKind::CheckBox: return QAccessible::CheckBox;
    case ControlKind::Slider: return QAccessible::Slider;
    case ControlKind::DropList:
    case ControlKind::DropDown: return QAccessible::ComboBox;
    }
    return QAccessible::NoRole;
}

TEST(AccessibleTemplateTest, everyControlHasItsRoleAndIsNamedByItsCaptionOrItsLabel) {
    CShutterPanelDlg panel(ports("/nonexistent/veltra-com1"));
    CPortSettingsDlg portDlg(PortSettings{9600, 8, kParityNone, kStopBitsOne, 0});
    CNdStepsDlg steps;
    const std::pair<TemplateDialog*, const DialogTemplate*> dialogs[] = {
        {&panel, &kPanelTemplate}, {&portDlg, &CPortSettingsDlg::layout()}, {&steps, &CNdStepsDlg::layout()}};
    for (const auto& [dlg, layout] : dialogs) {
        ASSERT_EQ(dlg->controls().size(), layout->controls.size());
        for (std::size_t i = 0; i < layout->controls.size(); ++i) {
            const ControlRow& c = layout->controls[i];
            QWidget* w = dlg->controls()[i];
            SCOPED_TRACE(testing::Message() << layout->caption << " row " << i << " id " << c.id << " '" << c.caption << "'");
            QAccessibleInterface* i_ = acc(w);
            ASSERT_NE(i_, nullptr);
            EXPECT_EQ(i_->role(), roleOf(c.kind));
            // A fixed name only where the control has no caption of its own.
            EXPECT_EQ(w->accessibleName(), QString::fromUtf8(c.name));
            const QString want = QString::fromUtf8(*c.name ? c.name : c.caption);
            const bool combo = c.kind == ControlKind::DropList || c.kind == ControlKind::DropDown;
            // On Linux Qt names a combo by the item it shows; its label is reported as labelling it.
            const QString shows = i_->text(QAccessible::Value);
            EXPECT_EQ(name(i_), combo && !shows.isEmpty() ? shows : want);
            if (combo) {
                const auto labels = i_->relations(QAccessible::Label);
                EXPECT_TRUE(labels.size() == 1 && name(labels[0].first) == want) << labels.size();
            }
        }
    }
    EXPECT_EQ(name(acc(panel.control(ctl::kConfigurateCom1 + 2))), QStringLiteral("Configurate COM3"));
}

TEST(AccessibleTemplateTest, namesFollowTheCaptionsTheyShow) {
    test::ScriptedPrompter prompter;
    prompter.ndAnswers.push_back(std::string("18"));
    CShutterPanelDlg dlg(ports("/nonexistent/veltra-com1", &prompter));
    dlg.startUp(), dlg.show();
    qobject_cast<QAbstractButton*>(dlg.control(ctl::kNeutralDensity))->click();
    PanelState& s = dlg.state();
    s.delayLabel = "00 : 00 : 01 : 000 : 0", s.cycleLabel = "Cycle Time  -  00 : 00 : 01 : 009 : 6";
    dlg.show(s);
    const std::pair<int, const char*> rows[] = {
        {ctl::kNeutralDensity, "Neutral Density - 18"}, {ctl::kOpeningLabel, "4.8 ms"}, {ctl::kClosingLabel, "4.8 ms"},
        {ctl::kDelayLabel, "00 : 00 : 01 : 000 : 0"}, {ctl::kCycleLabel, "Cycle Time  -  00 : 00 : 01 : 009 : 6"},
        {ctl::kStatusCom1, "COM1 status"},  // fixed: its text is the status, not its name
    };
    for (const auto& [id, want] : rows)
        EXPECT_EQ(name(acc(dlg.control(id))), QString::fromUtf8(want)) << id;
}

TEST(NeutralDensityCancelTest, theModeGroupShowsTheModeItShowedBeforeTheClick) {
    test::ScriptedPrompter prompter;
    prompter.ndAnswers.push_back(std::nullopt);  // the steps dialog cancelled
    CShutterPanelDlg dlg(ports("/nonexistent/veltra-com1", &prompter));
    dlg.startUp(), dlg.show();
    dlg.state().shutterMode = 1, dlg.show(dlg.state());
    qobject_cast<QAbstractButton*>(dlg.control(ctl::kNeutralDensity))->click();
    EXPECT_TRUE(qobject_cast<QAbstractButton*>(dlg.control(ctl::kSoft))->isChecked());
    EXPECT_FALSE(qobject_cast<QAbstractButton*>(dlg.control(ctl::kNeutralDensity))->isChecked());
    EXPECT_EQ(name(acc(dlg.control(ctl::kNeutralDensity))), QStringLiteral("Neutral Density"));
}

// Each command control, clicked and then acted on through its accessible
// action from the same state: the same bytes, the same boxes, the same panel.
TEST(AccessibleActionTest, everyActionHasExactlyTheEffectOfTheClick) {
    test::PtyPair pty;
    if (!pty.ok())
        GTEST_SKIP() << "no pseudo-terminal available";
    test::ModalWatcher watcher;
    CShutterPanelDlg dlg(ports(pty.slavePath()));
    dlg.startUp(), dlg.show();
    ASSERT_EQ(pty.receive(1), QByteArray("\xEE"));
    struct Row { int id; QByteArray bytes; const char* before = ""; };
    const Row rows[] = {
        {ctl::kOpen, "\xAA"}, {ctl::kOpen, "\xAA", "open"}, {ctl::kClose, "\xAC"}, {ctl::kSoft, "\xDD"},
        {ctl::kFast, "\xDC", "soft"}, {ctl::kTriggerPulse, "\xFA\xA0"}, {ctl::kTriggerPulse, "\xFA\xA1", "trigger off"},
        {ctl::kEnableOnLow, "\xFA\xA2"}, {ctl::kRisingEdge, "\xFA\xA3"}, {ctl::kFallingEdge, "\xFA\xA4"},
        {ctl::kEnableOnHigh, "\xFA\xA1", "trigger off"}, {ctl::kSyncPulse, "\xFA\xB0"},
        {ctl::kSyncPulse, "\xFA\xB2", "sync off"}, {ctl::kHighForOpen, "\xFA\xB1"}, {ctl::kLowForOpen, "\xFA\xB2", "sync off"},
        {ctl::kOnPowerUp, "\xFA\xF1"}, {ctl::kOnTriggerPulse, "\xFA\xF2", "repeat"}, {ctl::kGo, QByteArray(), "no repeat"},
        {ctl::kOnline, "\xEE"}, {ctl::kStatus, "\xCC"}, {ctl::kReset, "\xFB"}, {ctl::kGetInfo, "\xFD"},
        {ctl::kPowerOff, "\xCF"}, {ctl::kPowerOn, "\xCE"}, {ctl::kStop, "\xBF"},
    };
    const auto editable = [](const PanelState& p) {
        return std::tuple(p.shutterPosition, p.shutterMode, p.triggerMode, p.syncMode, p.runningOption,
                          p.triggerPulseChecked, p.syncPulseChecked, p.repeatText);
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "id " << r.id << " " << r.before);
        const std::string before = r.before;
        PanelState& s = dlg.state();
        if (before == "open") s.shutterPosition = 0;
        if (before == "soft") s.shutterMode = 1;
        if (before == "trigger off") s.triggerMode = -1, s.triggerPulseChecked = false;
        if (before == "sync off") s.syncMode = -1, s.syncPulseChecked = false;
        s.repeatText = before == "repeat" ? "5" : "";
        dlg.show(s);
        const PanelState start = s;
        auto* button = qobject_cast<QAbstractButton*>(dlg.control(r.id));
        QAccessibleActionInterface* action = acc(button)->actionInterface();
        ASSERT_TRUE(action && !action->actionNames().isEmpty());

        const std::size_t boxes = watcher.boxes.size();
        button->click();
        const QByteArray clicked = pty.receive(static_cast<int>(r.bytes.size()));
        const auto afterClick = editable(dlg.state());
        const std::size_t clickBoxes = watcher.boxes.size() - boxes;
        dlg.state() = start, dlg.show(dlg.state());
        action->doAction(action->actionNames().first());
        EXPECT_EQ(pty.receive(static_cast<int>(r.bytes.size())), clicked);
        EXPECT_EQ(clicked.toHex(' '), r.bytes.toHex(' '));
        if (r.bytes.isEmpty()) {  // a refused choice: its warning, once per way
            EXPECT_TRUE(QTest::qWaitFor([&] { return watcher.boxes.size() == boxes + 2 * clickBoxes; }, 3000));
        }
        EXPECT_EQ(editable(dlg.state()), afterClick);
        EXPECT_EQ(watcher.boxes.size() - boxes, 2 * clickBoxes);
    }
    EXPECT_EQ(watcher.boxes.size(), 2u);  // "Go" without a repeat number, both ways
    EXPECT_EQ(pty.receive(1, 200), QByteArray());  // nothing more went out
}

TEST(AccessibleActionTest, radiosReportRadioRolesAndAGroupCanShowNoneChecked) {
    CShutterPanelDlg dlg(ports("/nonexistent/veltra-com1"));
    dlg.startUp(), dlg.show();
    PanelState& s = dlg.state();
    s.triggerMode = -1, dlg.show(s);
    for (int id : {ctl::kEnableOnHigh, ctl::kEnableOnLow, ctl::kRisingEdge, ctl::kFallingEdge}) {
        EXPECT_EQ(acc(dlg.control(id))->role(), QAccessible::RadioButton);
        EXPECT_FALSE(acc(dlg.control(id))->state().checked) << id;
    }
    s.triggerMode = 1, dlg.show(s);
    EXPECT_TRUE(acc(dlg.control(ctl::kEnableOnLow))->state().checked);
}

TEST(AccessibleActionTest, timerChoiceRunsOnceWhateverWayItIsMade) {
    CShutterPanelDlg dlg(ports("/nonexistent/veltra-com1"));
    dlg.startUp(), dlg.show();
    PanelState& s = dlg.state();
    s.delayTime.seconds = "07", s.exposureTime.seconds = "09";
    dlg.show(s);
    auto* combo = qobject_cast<QComboBox*>(dlg.control(ctl::kTimerSelect));
    combo->setCurrentIndex(1);  // as the accessibility interface chooses: no `activated`
    EXPECT_EQ(dlg.state().editedTime.seconds, "09");
    QTest::keyClick(combo, Qt::Key_Up);  // the keys: index change and `activated`
    EXPECT_EQ(dlg.state().editedTime.seconds, "07");
}

TEST(AccessibleListTest, rowsCountSelectionAndClear) {
    ReceivedLog log;
    LogView view;
    view.resize(200, 4 * view.rowHeight());
    view.show();
    for (const char* line : {"238       0xEE", "204       0xCC", "170       0xAA"})
        log.append(line);
    view.sync(log);
    QAccessibleInterface* list = acc(&view);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(list->tableInterface(), nullptr);
    EXPECT_EQ(std::tuple(list->role(), list->childCount(), list->tableInterface()->rowCount()),
              std::tuple(QAccessible::List, 3, 3));
    EXPECT_EQ(std::tuple(list->child(0)->role(), name(list->child(0)), name(list->child(2))),
              std::tuple(QAccessible::ListItem, QStringLiteral("238       0xEE"), QStringLiteral("170       0xAA")));
    EXPECT_EQ(list->indexOfChild(list->child(2)), 2);
    EXPECT_EQ(list->child(3), nullptr);

    for (int i = 0; i < 20; ++i) log.append("13       0x0D");
    view.sync(log);
    EXPECT_EQ(list->childCount(), 23);
    EXPECT_EQ(name(list->tableInterface()->cellAt(22, 0)), QStringLiteral("13       0x0D"));  // the newest
    EXPECT_TRUE(list->child(0)->state().offscreen);   // the list follows the newest line
    EXPECT_FALSE(list->child(22)->state().offscreen);

    EXPECT_TRUE(list->tableInterface()->selectRow(1));
    EXPECT_EQ(view.selectedRow(), 1);
    EXPECT_TRUE(list->child(1)->state().selected);
    EXPECT_EQ(list->tableInterface()->selectedRows(), QList<int>{1});
    view.setSelectedRow(2);
    EXPECT_FALSE(list->child(1)->state().selected);
    EXPECT_TRUE(list->child(2)->state().selected);

    QAccessibleInterface* old = list->child(0);
    const QAccessible::Id oldId = QAccessible::uniqueId(old);
    log.clear();
    log.append("238       0xEE");
    view.sync(log);
    EXPECT_EQ(std::tuple(list->childCount(), list->tableInterface()->selectedRowCount()), std::tuple(1, 0));
    EXPECT_EQ(QAccessible::accessibleInterface(oldId), nullptr);  // the old rows are gone
    log.clear();
    view.sync(log);
    EXPECT_EQ(list->childCount(), 0);
}

TEST(AccessibleListTest, ctrlCCopiesTheSelectedLineAndCopyAllEveryLine) {
    ReceivedLog log;
    LogView view;
    for (const char* line : {"238       0xEE", "204       0xCC", "170       0xAA"})
        log.append(line);
    view.sync(log);
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText("before");
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), QStringLiteral("before"));  // nothing selected: nothing copied
    view.setSelectedRow(1);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), QStringLiteral("204       0xCC\n"));

    std::unique_ptr<QMenu> menu(view.createContextMenu(nullptr));
    QStringList texts;
    for (QAction* a : menu->actions())
        texts << a->text();
    ASSERT_EQ(texts, (QStringList{"Copy", "Copy All"}));
    menu->actions()[1]->trigger();
    EXPECT_EQ(clipboard->text(), QStringLiteral("238       0xEE\n204       0xCC\n170       0xAA\n"));
}

TEST(PortFailureTest, reasonTellsMissingPlainFileBusyAndPermissionApart) {
    using K = DeviceNode::Kind;
    using E = QSerialPort::SerialPortError;
    const std::tuple<DeviceNode, E, const char*> rows[] = {
        {{K::Missing, "", "", false}, E::DeviceNotFoundError, "does not exist"},
        {{K::Missing, "", "", false}, E::OpenError, "does not exist"},
        {{K::Other, "a regular file", "users", true}, E::OpenError, "not a serial device (a regular file)"},
        {{K::Other, "a regular file", "dialout", false}, E::PermissionError, "not a serial device (a regular file)"},
        {{K::CharDevice, "", "dialout", false}, E::PermissionError,
         "permission denied \u2014 add your user to the dialout group (sudo usermod -aG dialout $USER, then log in again)"},
        {{K::CharDevice, "", "tty", false}, E::PermissionError, "permission denied (group tty)"},
        {{K::CharDevice, "", "dialout", true}, E::PermissionError, "in use by another program"},
        {{K::CharDevice, "", "dialout", true}, E::OpenError, "cannot be opened: busy"},
    };
    for (const auto& [node, error, want] : rows)
        EXPECT_EQ(openFailureReason(node, error, "busy"), QString::fromUtf8(want)) << want;
    EXPECT_EQ(portFailureLine(1, "/dev/ttyUSB0", "does not exist"), QStringLiteral("COM1 (/dev/ttyUSB0): does not exist"));
}

TEST(PortFailureTest, devicesOnThisSystemAndTheLinesAtStartUp) {
    QTemporaryFile plain;
    ASSERT_TRUE(plain.open());
    EXPECT_EQ(inspectDeviceNode("/nonexistent/veltra").kind, DeviceNode::Kind::Missing);
    EXPECT_EQ(inspectDeviceNode(plain.fileName()).kind, DeviceNode::Kind::Other);
    EXPECT_EQ(inspectDeviceNode("/dev/null").kind, DeviceNode::Kind::CharDevice);

    QStringList lines;
    PanelOptions o = ports(plain.fileName());
    o.portFailureReporter = [&lines](const QString& line) { lines << line; };
    CShutterPanelDlg dlg(o);
    dlg.startUp();
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], QStringLiteral("COM1 (%1): not a serial device (a regular file)").arg(plain.fileName()));
    EXPECT_EQ(lines[1], QStringLiteral("COM2 (/nonexistent/veltra-com2): does not exist"));
    EXPECT_EQ(dlg.control(ctl::kStatusCom1 + 1)->toolTip(), lines[1]);

    test::ModalWatcher watcher;
    QString title;
    watcher.dialogs.append([&title](QDialog* d) { title = d->windowTitle(); d->accept(); });
    qobject_cast<QAbstractButton*>(dlg.control(ctl::kConfigurateCom1 + 1))->click();
    EXPECT_EQ(title, QStringLiteral("Port Configuration - COM2"));
    EXPECT_EQ(lines.size(), 5);  // the failed reopen is told as well
}

TEST(PortFailureTest, deviceListTipShowsTheWholePath) {
    CPortSettingsDlg dlg(PortSettings{9600, 8, kParityNone, kStopBitsOne, 0});
    const QString path = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    dlg.setDeviceName(path);
    EXPECT_EQ(dlg.control(CPortSettingsDlg::kDeviceList)->toolTip(), path);
    EXPECT_EQ(dlg.deviceName(), path);
}

}  // namespace
}  // namespace veltra
