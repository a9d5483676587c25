// The panel window: controls against the template, the view of the state, its end, real links.

#include "gui/cportsettingsdlg.h"
#include "gui/cshutterpaneldlg.h"
#include "gui/log_view.h"
#include "gui/panel_template.h"
#include "model/received_log.h"
#include "modal_watcher.h"
#include "serial/pty_pair.h"

#include <QComboBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace veltra {
namespace {

// The text a control shows (a group box: its title); invalid for controls that show none.
QVariant shown(const QWidget* w) { return w->property(w->inherits("QGroupBox") ? "title" : "text"); }
QString text(CShutterPanelDlg& dlg, int id) { return shown(dlg.control(id)).toString(); }

// COM2 to COM4 (and COM1 unless given) on devices that cannot exist.
PanelOptions ports(const QString& com1 = "/nonexistent/veltra-com1") {
    PanelOptions o;
    o.devices = {com1, "/nonexistent/veltra-com2", "/nonexistent/veltra-com3", "/nonexistent/veltra-com4"};
    return o;
}

TEST(PanelLayoutTest, everyTemplateRowIsBuiltInPlaceWithCaptionAndTabOrder) {
    CShutterPanelDlg dlg;
    const auto rows = kPanelTemplate.controls;
    ASSERT_EQ(std::pair(dlg.windowTitle(), dlg.controls().size()),
              std::pair(QStringLiteral("Veltra Utility - COM v1.12"), rows.size()));
    std::vector<QWidget*> stops;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ControlRow& c = rows[i];
        QWidget* w = dlg.controls()[i];
        SCOPED_TRACE(testing::Message() << "row " << i << " id " << c.id << " '" << c.caption << "'");
        QRect want = dlg.units().toPixels(c.x, c.y, c.w, c.h);
        if (c.kind == ControlKind::DropList)  // a closed combo is as tall as its text
            want.setHeight(w->height());
        EXPECT_EQ(w->geometry(), want);
        EXPECT_EQ(c.id == kNoId ? w : dlg.control(c.id), w);
        EXPECT_EQ(shown(w).toString(), shown(w).isValid() ? QString::fromUtf8(c.caption) : QString());
        if (w->focusPolicy() & Qt::TabFocus)
            stops.push_back(w);
    }
    ASSERT_EQ(stops.size(), 54u);  // buttons, radios, check boxes, edits, sliders, lists
    EXPECT_EQ(stops.front(), dlg.control(ctl::kExit));
    std::vector<QWidget*> chain{stops.front()};
    for (QWidget* w = chain.back()->nextInFocusChain(); chain.size() < stops.size(); w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus)  // labels sit between the stops
            chain.push_back(w);
    EXPECT_EQ(chain, stops);
}

TEST(PanelViewTest, showReadRoundTripAbsentDevicesAndTypedHours) {
    test::ModalWatcher watcher;
    CShutterPanelDlg dlg(ports());
    dlg.startUp(), dlg.show();
    for (int id = ctl::kStatusCom1; id < ctl::kStatusCom1 + kPortCount; ++id)
        EXPECT_TRUE(text(dlg, id) == "Disconnected" && !dlg.control(id)->isEnabled()) << id;
    PanelState& s = dlg.state();
    s.shutterPosition = 0, s.shutterMode = -1, s.triggerMode = -1, s.syncMode = 0, s.runningOption = 2;
    s.triggerPulseChecked = false, s.syncPulseChecked = true, s.timerSelectIndex = 1, s.sliders[kMinutes] = 7;
    s.repeatText = "300", s.editedTime.minutes = "07", s.editedTime.hours = "6", s.ndCaption = "Neutral Density - 37";
    s.ports[2] = PortView{"Ready for Veltra", true, "why"};
    dlg.show(s);  // shown, not typed: no warning about the hours
    const auto editable = [](const PanelState& p) {
        return std::tie(p.shutterPosition, p.shutterMode, p.triggerMode, p.syncMode, p.runningOption, p.sliders,
                        p.triggerPulseChecked, p.syncPulseChecked, p.timerSelectIndex, p.repeatText, p.editedTime);
    };
    PanelState back;
    dlg.read(back);
    EXPECT_TRUE(editable(back) == editable(s));
    EXPECT_EQ(text(dlg, ctl::kNeutralDensity), QStringLiteral("Neutral Density - 37"));
    const QWidget* com3 = dlg.control(ctl::kStatusCom1 + 2);
    EXPECT_TRUE(com3->property("text") == "Ready for Veltra" && com3->isEnabled() && com3->toolTip() == "why");
    s.shutterMode = 2, dlg.show(s), dlg.read(back);  // a group shown with none checked takes a choice again
    QCoreApplication::processEvents();
    EXPECT_EQ(std::pair(back.shutterMode, watcher.boxes.size()), std::pair(2, 0ul));

    QTest::keyClick(dlg.control(ctl::kHourEdit), Qt::Key_Backspace);
    QTest::keyClicks(dlg.control(ctl::kHourEdit), "6");
    ASSERT_EQ(watcher.boxes.size(), 1u);  // the one box: its text, and the field emptied
    EXPECT_EQ(watcher.boxes[0].text, QStringLiteral("Hours number must be less than 6! Please retype."));
    EXPECT_EQ(text(dlg, ctl::kHourEdit), QString());
}

TEST(LogViewTest, followsTheNewestLineUnlessTheOperatorLooksUpAndStartsOverAfterClear) {
    ReceivedLog log;
    LogView view;
    view.resize(200, 5 * view.rowHeight());
    const QScrollBar* bar = view.verticalScrollBar();
    for (int i = 0; i < 100; ++i) log.append(std::to_string(i));
    EXPECT_EQ(view.sync(log), 100u);
    EXPECT_EQ(bar->value(), bar->maximum());  // the newest line shows
    view.setSelectedRow(3);                   // the operator looks further up
    log.append("100");
    EXPECT_EQ(view.sync(log), 1u);
    EXPECT_EQ(std::tuple(view.rowCount(), view.lineText(100), view.selectedRow(), bar->value()),
              std::tuple(101, QStringLiteral("100"), 3, 3));
    log.clear();
    log.append("x");
    EXPECT_EQ(view.sync(log), 1u);
    EXPECT_EQ(std::tuple(view.rowCount(), view.selectedRow()), std::tuple(1, -1));
}

TEST(PanelEndTest, exitAndCloseEndWithMinusOneEscapeWithZero) {
    const std::pair<std::function<void(CShutterPanelDlg&)>, int> rows[] = {
        {[](CShutterPanelDlg& d) { QTest::mouseClick(d.control<QPushButton>(ctl::kExit), Qt::LeftButton); }, -1},
        {[](CShutterPanelDlg& d) { d.close(); }, -1},
        {[](CShutterPanelDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); }, 0},
    };
    for (const auto& [end, status] : rows) {
        CShutterPanelDlg dlg(ports());
        dlg.startUp(), dlg.show(), end(dlg);
        EXPECT_EQ(std::pair(dlg.isVisible(), dlg.exitStatus()), std::pair(false, status));
    }
}

// COM1 is a pseudo-terminal the test plays the controller on.
TEST(PanelOnPtyTest, onlineEchoMakesComOneReadyAndConfigurateReopensIt) {
    test::PtyPair pty;
    if (!pty.ok())
        GTEST_SKIP() << "no pseudo-terminal available";
    CShutterPanelDlg dlg(ports(pty.slavePath()));
    dlg.startUp(), dlg.show();
    EXPECT_EQ(text(dlg, ctl::kStatusCom1), QStringLiteral("Connected"));
    ASSERT_EQ(pty.receive(1), QByteArray("\xEE"));  // Online; the controller echoes it
    ASSERT_TRUE(pty.send("\xEE"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return text(dlg, ctl::kStatusCom1) == "Ready for Veltra"; }, 5000));
    EXPECT_EQ(std::pair(dlg.receivedList()->rowCount(), dlg.receivedList()->lineText(0)),
              std::pair(1, QStringLiteral("238       0xEE")));

    test::ModalWatcher watcher;
    QStringList offered;
    const auto configurate = [&](const QString& baud, const QString& parity, int button) {
        watcher.dialogs.append([&offered, baud, parity, button](QDialog* d) {
            auto* p = qobject_cast<CPortSettingsDlg*>(d);
            ASSERT_NE(p, nullptr);
            offered = {p->baudText(), p->parityText(), p->dataBitsText(), p->stopBitsText(), p->sendBufferText()};
            p->control<QComboBox>(CPortSettingsDlg::kBaudList)->setCurrentText(baud);
            p->control<QComboBox>(CPortSettingsDlg::kParityList)->setCurrentText(parity);
            p->control<QPushButton>(button)->click();
        });
        dlg.control<QPushButton>(ctl::kConfigurateCom1)->click();
        EXPECT_TRUE(watcher.dialogs.empty());
        return pty.slaveTermios();
    };
    const termios chosen = configurate("2400", "EVEN", 1);
    EXPECT_EQ(offered, (QStringList{"9600", "NONE", "8", "1", "512"}));
    EXPECT_EQ(cfgetospeed(&chosen), speed_t{B2400});
    const termios cancelled = configurate("300", "ODD", 2);
    EXPECT_EQ(offered, (QStringList{"2400", "EVEN", "8", "1", "512"}));
    EXPECT_EQ(std::pair(cfgetospeed(&cancelled), cancelled.c_cflag), std::pair(speed_t{B2400}, chosen.c_cflag));
    dlg.control<QPushButton>(ctl::kStatus)->click();  // still open and monitored
    EXPECT_EQ(pty.receive(1), QByteArray("\xCC"));
}

}  // namespace
}  // namespace veltra
