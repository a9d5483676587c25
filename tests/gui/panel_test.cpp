// The panel window and its dialogs: every template row built in place, with its
// role and accessible name; the view of the state; acting through the
// accessibility interface is acting on the controller; the received-data list.

#include "gui/cndstepsdlg.h"
#include "gui/cportsettingsdlg.h"
#include "gui/cshutterpaneldlg.h"
#include "gui/log_view.h"
#include "gui/panel_controls.h"
#include "model/received_log.h"
#include "modal_watcher.h"
#include "panel/field_checks.h"
#include "serial/ccomportlink.h"
#include "serial/pty_pair.h"
#include "support/fakes.h"
#include "support/qt_print.h"

#include <QAccessible>
#include <QApplication>
#include <QAccessibleActionInterface>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>

namespace veltra {
namespace {

QAccessibleInterface* acc(QObject* o) { return QAccessible::queryAccessibleInterface(o); }
QString name(QAccessibleInterface* i) { return i ? i->text(QAccessible::Name) : QStringLiteral("<none>"); }
QAbstractButton* button(CShutterPanelDlg& dlg, int id) { return dlg.control<QAbstractButton>(id); }

// COM2 to COM4 (and COM1 unless given) on devices that cannot exist.
PanelOptions ports(const QString& com1 = "/nonexistent/veltra-com1", Prompter* prompter = nullptr) {
    return {{com1, "/nonexistent/veltra-com2", "/nonexistent/veltra-com3", "/nonexistent/veltra-com4"}, prompter};
}

const std::map<ControlKind, QAccessible::Role> kRoles = {
    {ControlKind::DefPushButton, QAccessible::Button}, {ControlKind::PushButton, QAccessible::Button},
    {ControlKind::ListBox, QAccessible::List},         {ControlKind::Label, QAccessible::StaticText},
    {ControlKind::Edit, QAccessible::EditableText},    {ControlKind::GroupBox, QAccessible::Grouping},
    {ControlKind::Radio, QAccessible::RadioButton},    {ControlKind::CheckBox, QAccessible::CheckBox},
    {ControlKind::Slider, QAccessible::Slider},        {ControlKind::DropList, QAccessible::ComboBox},
    {ControlKind::DropDown, QAccessible::ComboBox},
};

TEST(TemplateTest, everyRowIsBuiltInPlaceWithCaptionRoleAndNameAndThePanelsTabOrder) {
    CShutterPanelDlg panel(ports());
    CPortSettingsDlg portDlg(PortSettings{9600, 8, kParityNone, kStopBitsOne, 0});
    CNdStepsDlg steps;
    const std::pair<TableDialog*, const ControlTable*> dialogs[] = {
        {&panel, &kPanelControls}, {&portDlg, &CPortSettingsDlg::layout()}, {&steps, &CNdStepsDlg::layout()}};
    for (const auto& [dlg, layout] : dialogs) {
        ASSERT_EQ(dlg->controls().size(), layout->controls.size());
        for (std::size_t i = 0; i < layout->controls.size(); ++i) {
            const ControlRow& c = layout->controls[i];
            QWidget* w = dlg->controls()[i];
            SCOPED_TRACE(testing::Message() << layout->caption << " row " << i << " id " << c.id << " '" << c.caption << "'");
            QRect want = dlg->units().toPixels(c.x, c.y, c.w, c.h);
            if (kRoles.at(c.kind) == QAccessible::ComboBox)  // a closed combo is as tall as its text
                want.setHeight(w->height());
            EXPECT_EQ(w->geometry(), want);
            EXPECT_EQ(c.id == kNoId ? w : dlg->control(c.id), w);
            QAccessibleInterface* a = acc(w);
            ASSERT_NE(a, nullptr);
            EXPECT_EQ(a->role(), kRoles.at(c.kind));
            // A fixed name only where the control has no caption of its own.
            EXPECT_EQ(w->accessibleName(), QString::fromUtf8(c.name));
            const QString named = QString::fromUtf8(*c.name ? c.name : c.caption);
            const bool combo = a->role() == QAccessible::ComboBox;
            // On Linux Qt names a combo by the item it shows; its label is reported as labelling it.
            const QString item = a->text(QAccessible::Value);
            EXPECT_EQ(name(a), combo && !item.isEmpty() ? item : named);
            if (combo) {
                const auto labels = a->relations(QAccessible::Label);
                EXPECT_TRUE(labels.size() == 1 && name(labels[0].first) == named) << labels.size();
            }
        }
    }
    std::vector<QWidget*> stops;
    for (QWidget* w : panel.controls())
        if (w->focusPolicy() & Qt::TabFocus)
            stops.push_back(w);
    ASSERT_EQ(stops.size(), 54u);  // buttons, radios, check boxes, edits, sliders, lists
    EXPECT_EQ(stops.front(), panel.control(ctl::kExit));
    std::vector<QWidget*> chain{stops.front()};
    for (QWidget* w = chain.back()->nextInFocusChain(); chain.size() < stops.size(); w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus)  // labels sit between the stops
            chain.push_back(w);
    EXPECT_EQ(chain, stops);
}

// What show() puts up, read() gives back; a group shown with none checked
// takes a choice again; hours shown are not checked, hours typed are.
// Cancelling the steps dialog leaves the mode group as it was before the
// click; labels and the button are named by the captions they show now. A
// timer choice runs once whatever way it is made. (Port views: the
// end-to-end suites and the failure lines.)
TEST(PanelViewTest, showReadRoundTripTypedHoursAndNamesFollowingTheCaptions) {
    test::ScriptedPrompter prompter;
    prompter.ndAnswers = {std::nullopt, std::string("18")};
    CShutterPanelDlg dlg(ports("/nonexistent/veltra-com1", &prompter));
    dlg.startUp(), dlg.show();
    PanelState& s = dlg.state();
    s.shutterPosition = 0, s.shutterMode = -1, s.triggerMode = -1, s.syncMode = 0, s.runningOption = 2;
    s.triggerPulseChecked = false, s.syncPulseChecked = true, s.timerSelectIndex = 1, s.sliders[kMinutes] = 7;
    s.repeatText = "300", s.editedTime.minutes = "07", s.editedTime.hours = "6";
    dlg.show(s);
    const auto editable = [](const PanelState& p) {
        return std::tie(p.shutterPosition, p.shutterMode, p.triggerMode, p.syncMode, p.runningOption, p.sliders,
                        p.triggerPulseChecked, p.syncPulseChecked, p.timerSelectIndex, p.repeatText, p.editedTime);
    };
    PanelState back;
    dlg.read(back);
    EXPECT_TRUE(editable(back) == editable(s));
    s.shutterMode = 2, dlg.show(s), dlg.read(back);
    QCoreApplication::processEvents();
    EXPECT_EQ(std::pair(back.shutterMode, prompter.warnings.size()), std::pair(2, 0ul));
    QTest::keyClick(dlg.control(ctl::kHourEdit), Qt::Key_Backspace);
    QTest::keyClicks(dlg.control(ctl::kHourEdit), "6");
    EXPECT_EQ(std::pair(prompter.warnings, dlg.control<QLineEdit>(ctl::kHourEdit)->text()),  // the field emptied
              std::pair(std::vector<std::string>{"Hours number must be less than 6! Please retype."}, QString()));

    s.shutterMode = 1, dlg.show(s);
    button(dlg, ctl::kNeutralDensity)->click();
    EXPECT_TRUE(button(dlg, ctl::kSoft)->isChecked() && !button(dlg, ctl::kNeutralDensity)->isChecked());
    EXPECT_EQ(name(acc(dlg.control(ctl::kNeutralDensity))), QStringLiteral("Neutral Density"));
    button(dlg, ctl::kNeutralDensity)->click();
    s.delayLabel = "00 : 00 : 01 : 000 : 0", s.cycleLabel = "Cycle Time  -  00 : 00 : 01 : 009 : 6";
    dlg.show(s);
    const std::pair<int, const char*> rows[] = {
        {ctl::kNeutralDensity, "Neutral Density - 18"}, {ctl::kOpeningLabel, "4.8 ms"}, {ctl::kClosingLabel, "4.8 ms"},
        {ctl::kDelayLabel, "00 : 00 : 01 : 000 : 0"}, {ctl::kCycleLabel, "Cycle Time  -  00 : 00 : 01 : 009 : 6"},
        {ctl::kStatusCom1, "COM1 status"},  // fixed: its text is the status, not its name
    };
    for (const auto& [id, want] : rows)
        EXPECT_EQ(name(acc(dlg.control(id))), QString::fromUtf8(want)) << id;

    s.timerSelectIndex = 0, s.delayTime.seconds = "07", s.exposureTime.seconds = "09", dlg.show(s);
    auto* combo = dlg.control<QComboBox>(ctl::kTimerSelect);
    combo->setCurrentIndex(1);  // as the accessibility interface chooses: no `activated`
    EXPECT_EQ(dlg.state().editedTime.seconds, "09");
    QTest::keyClick(combo, Qt::Key_Up);  // the keys: index change and `activated`
    EXPECT_EQ(dlg.state().editedTime.seconds, "07");
}

// Each command control acted on through its accessible action, as a screen
// reader does: a click, so its own bytes go out (each wired to its handler),
// and "Go" without a repeat number is refused with its warning. Then Exit
// while an Apply download runs asks first.
TEST(AccessibleActionTest, everyActionIsTheClickOfItsControlAndExitAsksWhileAnApplyRuns) {
    test::PtyPair pty;
    if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal available";
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
        QAccessibleActionInterface* action = acc(dlg.control(r.id))->actionInterface();
        ASSERT_TRUE(action && !action->actionNames().isEmpty());
        action->doAction(action->actionNames().first());
        if (r.bytes.isEmpty())
            EXPECT_TRUE(QTest::qWaitFor([&] { return watcher.boxes.size() == 1; }, 3000));
        else
            EXPECT_EQ(pty.receive(int(r.bytes.size())).toHex(' '), r.bytes.toHex(' '));
    }
    using Box = test::ModalWatcher::Box;  // the prompter's boxes: a warning, and a question with Cancel
    EXPECT_EQ(watcher.boxes, (std::vector<Box>{{"Warning", msg::kRepeatFirst, QMessageBox::Warning, QMessageBox::Ok}}));
    EXPECT_EQ(pty.receive(1, 200), QByteArray());  // nothing more went out

    dlg.state().repeatText = "1", dlg.show(dlg.state());
    button(dlg, ctl::kApply)->click();
    ASSERT_TRUE(dlg.panel().decoder().applyInProgress());
    watcher.answers = {QMessageBox::Cancel, QMessageBox::Ok};
    for (const bool ends : {false, true}) {
        dlg.close();
        EXPECT_EQ(dlg.isVisible(), !ends);
    }
    EXPECT_EQ(std::pair(watcher.boxes.size(), dlg.exitStatus()), std::pair(3ul, -1));
    EXPECT_EQ(watcher.boxes.back(), (Box{"Warning", "An Apply download is in progress. Exit anyway?",
                                         QMessageBox::Information, QMessageBox::Ok | QMessageBox::Cancel}));
}

// Enter and Escape never end the panel; "Exit" and the close button do
// (status -1), and so does quit(), the termination signals' way.
TEST(PanelEndTest, exitCloseAndQuitEndThePanelEnterAndEscapeNever) {
    const std::tuple<const char*, std::function<void(CShutterPanelDlg&)>, bool, int> rows[] = {
        {"Exit", [](CShutterPanelDlg& d) { QTest::mouseClick(d.control<QPushButton>(ctl::kExit), Qt::LeftButton); }, false, -1},
        {"close button", [](CShutterPanelDlg& d) { d.close(); }, false, -1},
        {"quit", [](CShutterPanelDlg& d) { d.quit(0); }, false, 0},
        {"Escape", [](CShutterPanelDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); }, true, 0},
        {"Enter in the repeat field", [](CShutterPanelDlg& d) {
             QTest::keyClicks(d.control(ctl::kRepeatEdit), "5");
             QTest::keyClick(d.control(ctl::kRepeatEdit), Qt::Key_Return);
             QTest::keyClick(d.control(ctl::kRepeatEdit), Qt::Key_Enter);
         }, true, 0},
        {"Enter on a focused button", [](CShutterPanelDlg& d) {  // presses it: Status, which has no port to go to
             d.control(ctl::kStatus)->setFocus();
             QTest::keyClick(d.control(ctl::kStatus), Qt::Key_Return);
         }, true, 0},
    };
    for (const auto& [name, end, stays, status] : rows) {
        SCOPED_TRACE(name);
        test::ScriptedPrompter prompter;
        CShutterPanelDlg dlg(ports("/nonexistent/veltra-com1", &prompter));
        dlg.startUp(), dlg.show(), end(dlg);
        EXPECT_EQ(std::pair(dlg.isVisible(), dlg.exitStatus()), std::pair(stays, status));
        EXPECT_TRUE(prompter.confirms.empty());
        EXPECT_EQ(prompter.warnings.size(), std::string(name) == "Enter on a focused button" ? 1u : 0u);
    }
    // quit() left every event loop for good; the application's own loop lets the next tests have theirs again.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

// The panel opens with the focus where Enter does nothing: Return and keypad
// Enter right after the start leave it open. Enter presses "Exit" only when
// the operator went there (Tab, Shift+Tab, a click); with the focus put there
// otherwise, Enter does nothing and Space still presses it.
TEST(PanelEndTest, enterRightAfterTheStartLeavesThePanelOpenAndPressesExitOnlyWhenChosen) {
    using Keys = std::vector<std::pair<int, Qt::KeyboardModifiers>>;
    const Keys enter{{Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Enter, Qt::KeypadModifier}};
    const std::tuple<const char*, std::function<void(CShutterPanelDlg&)>, Keys, bool> rows[] = {
        {"at the start", [](CShutterPanelDlg&) {}, enter, true},
        {"Shift+Tab onto Exit", [](CShutterPanelDlg&) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier); },
         {{Qt::Key_Return, Qt::NoModifier}}, false},
        {"Tab round onto Exit", [](CShutterPanelDlg& d) {
             for (int i = 0; i < 60 && QApplication::focusWidget() != d.control(ctl::kExit); ++i)
                 QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &d, Qt::Key_Tab);
         }, {{Qt::Key_Enter, Qt::KeypadModifier}}, false},
        {"focus put on Exit", [](CShutterPanelDlg& d) { d.control(ctl::kExit)->setFocus(); }, enter, true},
        {"focus put on Exit, then Space", [](CShutterPanelDlg& d) { d.control(ctl::kExit)->setFocus(); },
         {{Qt::Key_Space, Qt::NoModifier}}, false},
    };
    for (const auto& [name, move, keys, stays] : rows) {
        SCOPED_TRACE(name);
        test::ScriptedPrompter prompter;
        CShutterPanelDlg dlg(ports("/nonexistent/veltra-com1", &prompter));
        dlg.startUp(), dlg.show(), dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_NE(QApplication::focusWidget(), dlg.control(ctl::kExit));
        move(dlg);
        for (const auto& [key, modifiers] : keys) {
            QWidget* focus = QApplication::focusWidget();
            QTest::keyClick(focus ? focus : &dlg, Qt::Key(key), modifiers);
        }
        EXPECT_EQ(std::pair(dlg.isVisible(), dlg.exitStatus()), std::pair(stays, stays ? 0 : -1));
        EXPECT_TRUE(prompter.warnings.empty() && prompter.confirms.empty());
    }
}

// "Configurate" offers COM1's settings (its dialog names the port and shows a
// long device path whole) and reopens it with the chosen ones; Cancel keeps them. What it chose is where COM1 opens at the next start; a
// device given for one run (--port) is used then and not remembered.
TEST(PortMemoryTest, configurateReopensWithTheChosenSettingsWhichOpenAtTheNextStartUnlessADeviceIsGiven) {
    test::PtyPair pty;
    if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal available";
    QTemporaryDir dir;
    QSettings memory(dir.filePath("veltra-utility.conf"), QSettings::IniFormat);
    const auto start = [&](const QString& com1) {
        PanelOptions o = ports(com1);
        o.portMemory = &memory;
        auto dlg = std::make_unique<CShutterPanelDlg>(o);
        dlg->startUp();
        return dlg;
    };
    QStringList offered;
    // Chooses in COM1's dialog and clicks OK (1: parity EVEN) or Cancel (2): the line's settings then.
    const auto configurate = [&](CShutterPanelDlg& dlg, const QString& device, const QString& baud, int button) {
        test::ModalWatcher watcher;
        watcher.dialogs.append([&](QDialog* d) {
            auto* p = qobject_cast<CPortSettingsDlg*>(d);
            ASSERT_NE(p, nullptr);
            offered = {p->baudText(), p->parityText(), p->dataBitsText(), p->stopBitsText(), p->sendBufferText()};
            p->setDeviceName(device);
            EXPECT_EQ(std::tuple(p->windowTitle(), p->deviceName(), p->control(CPortSettingsDlg::kDeviceList)->toolTip()),
                      std::tuple(QStringLiteral("Port Configuration - COM1"), device, device));
            p->control<QComboBox>(CPortSettingsDlg::kBaudList)->setCurrentText(baud);
            p->control<QComboBox>(CPortSettingsDlg::kParityList)->setCurrentText(button == 1 ? "EVEN" : "ODD");
            p->control<QPushButton>(button)->click();
        });
        dlg.control<QPushButton>(ctl::kConfigurateCom1)->click();
        EXPECT_TRUE(watcher.dialogs.empty());
        return pty.slaveTermios();
    };
    const termios chosen = configurate(*start("/nonexistent/veltra-com1"), pty.slavePath(), "19200", 1);  // and Exit
    EXPECT_EQ(cfgetospeed(&chosen), speed_t{B19200});
    for (const QString& given : {QString(), QStringLiteral("/nonexistent/given"), QString()}) {
        SCOPED_TRACE(given.toStdString());
        termios t = pty.slaveTermios();
        cfsetspeed(&t, B300);  // whatever the line was left at
        ASSERT_EQ(::tcsetattr(pty.slaveFd(), TCSANOW, &t), 0);
        auto dlg = start(given);
        const CComPortLink& com1 = dlg->ports().link(1);
        EXPECT_EQ(std::pair(com1.deviceName(), com1.isOpen()),
                  std::pair(given.isEmpty() ? pty.slavePath() : given, given.isEmpty()));
        if (given.isEmpty()) {
            t = configurate(*dlg, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "300", 2);
            EXPECT_EQ(offered, (QStringList{"19200", "EVEN", "8", "1", "512"}));
            EXPECT_EQ(std::pair(cfgetospeed(&t), t.c_cflag), std::pair(speed_t{B19200}, chosen.c_cflag));
            pty.receive(64, 100);  // Online
            dlg->control<QPushButton>(ctl::kStatus)->click();  // still open and monitored
            EXPECT_EQ(pty.receive(1), QByteArray("\xCC"));
        }
    }
}

// The received-data list as the operator and the accessibility interface see
// it; Ctrl+C copies the selected line and "Copy All" every line.
TEST(LogViewTest, rowsFollowTheNewestLineUnlessTheOperatorLooksUpCopiesAndAClearStartsOver) {
    ReceivedLog log;
    LogView view;
    view.resize(200, 4 * view.rowHeight());
    view.show();
    const QScrollBar* bar = view.verticalScrollBar();
    for (const char* line : {"238       0xEE", "204       0xCC", "170       0xAA"})
        log.append(line);
    EXPECT_EQ(view.sync(log), 3u);
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText("before");
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), QStringLiteral("before"));  // nothing selected: nothing copied
    QAccessibleInterface* list = acc(&view);
    ASSERT_TRUE(list && list->tableInterface());
    EXPECT_EQ(std::tuple(list->role(), list->childCount(), list->tableInterface()->rowCount()),
              std::tuple(QAccessible::List, 3, 3));
    EXPECT_EQ(std::tuple(list->child(0)->role(), name(list->child(0)), name(list->child(2))),
              std::tuple(QAccessible::ListItem, QStringLiteral("238       0xEE"), QStringLiteral("170       0xAA")));
    EXPECT_TRUE(list->indexOfChild(list->child(2)) == 2 && list->child(3) == nullptr);
    for (int i = 0; i < 20; ++i) log.append("13       0x0D");
    EXPECT_EQ(view.sync(log), 20u);
    EXPECT_EQ(std::pair(list->childCount(), name(list->tableInterface()->cellAt(22, 0))), std::pair(23, QStringLiteral("13       0x0D")));
    EXPECT_TRUE(bar->value() == bar->maximum() && list->child(0)->state().offscreen && !list->child(22)->state().offscreen);

    EXPECT_TRUE(list->tableInterface()->selectRow(1));  // the operator looks further up
    EXPECT_EQ(std::tuple(view.selectedRow(), bool(list->child(1)->state().selected), list->tableInterface()->selectedRows()),
              std::tuple(1, true, QList<int>{1}));
    view.setSelectedRow(2);
    EXPECT_TRUE(!list->child(1)->state().selected && list->child(2)->state().selected);
    const int looking = bar->value();
    log.append("170       0xAA");
    EXPECT_EQ(view.sync(log), 1u);
    EXPECT_EQ(std::tuple(view.rowCount(), view.lineText(23), view.selectedRow(), bar->value()),
              std::tuple(24, QStringLiteral("170       0xAA"), 2, looking));
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), QStringLiteral("170       0xAA\n"));
    std::unique_ptr<QMenu> menu(view.createContextMenu(nullptr));
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(std::pair(actions[0]->text(), actions[1]->text()), std::pair(QStringLiteral("Copy"), QStringLiteral("Copy All")));
    actions[1]->trigger();
    const QString all = clipboard->text();
    EXPECT_EQ(std::tuple(all.count('\n'), all.startsWith("238       0xEE\n204       0xCC\n"), all.endsWith("0x0D\n170       0xAA\n")),
              std::tuple(24, true, true));

    const QAccessible::Id oldId = QAccessible::uniqueId(list->child(0));
    log.clear();
    log.append("238       0xEE");
    EXPECT_EQ(view.sync(log), 1u);
    EXPECT_EQ(std::tuple(list->childCount(), list->tableInterface()->selectedRowCount(), view.selectedRow()), std::tuple(1, 0, -1));
    EXPECT_EQ(QAccessible::accessibleInterface(oldId), nullptr);  // the old rows are gone
    log.clear(), view.sync(log);
    EXPECT_EQ(list->childCount(), 0);
}

}  // namespace
}  // namespace veltra
