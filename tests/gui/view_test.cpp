// The panel window as a view of PanelState: read, show, the operator's
// signals, the received-data list and how the panel ends.

#include "gui/cshutterpaneldlg.h"
#include "gui/panel_template.h"
#include "gui/received_log_model.h"
#include "gui/track_bar.h"
#include "modal_watcher.h"
#include "support/fakes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QAbstractItemView>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace veltra {
namespace {

QString text(CShutterPanelDlg& dlg, int id) {
    if (auto* e = dlg.control<QLineEdit>(id)) return e->text();
    if (auto* l = dlg.control<QLabel>(id)) return l->text();
    if (auto* b = dlg.control<QAbstractButton>(id)) return b->text();
    return {};
}

bool checked(CShutterPanelDlg& dlg, int id) { return dlg.control<QAbstractButton>(id)->isChecked(); }

// Every COM slot points at a device that cannot exist.
PanelOptions absentPorts(Prompter* prompter = nullptr) {
    PanelOptions o;
    for (int i = 0; i < kPortCount; ++i)
        o.devices[static_cast<std::size_t>(i)] = QStringLiteral("/nonexistent/veltra-com%1").arg(i + 1);
    o.prompter = prompter;
    return o;
}

class PanelViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        dlg.startUp();
        dlg.show();
    }
    CShutterPanelDlg dlg{absentPorts()};
};

TEST_F(PanelViewTest, startUpShowsTheInitialSelections) {
    EXPECT_TRUE(checked(dlg, ctl::kEnableOnHigh));
    EXPECT_TRUE(checked(dlg, ctl::kLowForOpen));
    EXPECT_TRUE(checked(dlg, ctl::kFast));
    EXPECT_TRUE(checked(dlg, ctl::kClose));
    EXPECT_TRUE(checked(dlg, ctl::kTriggerPulse));
    EXPECT_TRUE(checked(dlg, ctl::kSyncPulse));
    for (int id : {ctl::kOnPowerUp, ctl::kOnTriggerPulse, ctl::kGo})
        EXPECT_FALSE(checked(dlg, id)) << id;
    EXPECT_EQ(dlg.control<QComboBox>(ctl::kTimerSelect)->currentIndex(), -1);
    for (int id : kTimeEditIds)
        EXPECT_EQ(text(dlg, id), QString()) << id;
}

TEST_F(PanelViewTest, absentDevicesShowDisconnectedAndDisabled) {
    for (int i = 0; i < kPortCount; ++i) {
        auto* e = dlg.control<QLineEdit>(ctl::kStatusCom1 + i);
        EXPECT_EQ(e->text(), QStringLiteral("Disconnected")) << i;
        EXPECT_FALSE(e->isEnabled()) << i;
    }
    EXPECT_EQ(dlg.panel().protocol().activePort, 0);
}

TEST_F(PanelViewTest, readGivesMinusOneForARadioGroupWithNothingChecked) {
    PanelState& s = dlg.state();
    s.shutterMode = -1;
    s.triggerMode = -1;
    dlg.show(s);
    for (int id : {ctl::kFast, ctl::kSoft, ctl::kNeutralDensity, ctl::kEnableOnHigh, ctl::kEnableOnLow,
                   ctl::kRisingEdge, ctl::kFallingEdge})
        EXPECT_FALSE(checked(dlg, id)) << id;
    PanelState back;
    dlg.read(back);
    EXPECT_EQ(back.shutterMode, -1);
    EXPECT_EQ(back.triggerMode, -1);
    EXPECT_EQ(back.syncMode, 1);

    s.shutterMode = 2;
    dlg.show(s);
    EXPECT_TRUE(checked(dlg, ctl::kNeutralDensity));
    dlg.read(back);
    EXPECT_EQ(back.shutterMode, 2);
}

TEST_F(PanelViewTest, showPutsTheWholeStateOntoTheWidgets) {
    PanelState& s = dlg.state();
    s.ndCaption = "Neutral Density - 37";
    s.openingLabel = "9.8 ms";
    s.closingLabel = "9.8 ms";
    s.delayLabel = "00 : 07 : 00 : 005 : 0";
    s.exposureLabel = "01 : 00 : 00 : 000 : 0";
    s.cycleLabel = "Cycle Time  -  01 : 07 : 00 : 029 : 0";
    s.repeatText = "300";
    s.leftCycleText = "Continuous";
    s.timerSelectIndex = 1;
    s.editedTime.minutes = "07";
    s.sliders[kMinutes] = 7;
    s.runningOption = 2;
    s.ports[2] = PortView{"Ready for Veltra", true, "why"};
    dlg.show(s);
    EXPECT_EQ(text(dlg, ctl::kNeutralDensity), QStringLiteral("Neutral Density - 37"));
    EXPECT_EQ(text(dlg, ctl::kOpeningLabel), QStringLiteral("9.8 ms"));
    EXPECT_EQ(text(dlg, ctl::kClosingLabel), QStringLiteral("9.8 ms"));
    EXPECT_EQ(text(dlg, ctl::kDelayLabel), QStringLiteral("00 : 07 : 00 : 005 : 0"));
    EXPECT_EQ(text(dlg, ctl::kExposureLabel), QStringLiteral("01 : 00 : 00 : 000 : 0"));
    EXPECT_EQ(text(dlg, ctl::kCycleLabel), QStringLiteral("Cycle Time  -  01 : 07 : 00 : 029 : 0"));
    EXPECT_EQ(text(dlg, ctl::kRepeatEdit), QStringLiteral("300"));
    EXPECT_EQ(text(dlg, ctl::kLeftCycleEdit), QStringLiteral("Continuous"));
    EXPECT_EQ(dlg.control<QComboBox>(ctl::kTimerSelect)->currentIndex(), 1);
    EXPECT_EQ(text(dlg, ctl::kMinuteEdit), QStringLiteral("07"));
    EXPECT_EQ(dlg.control<TrackBar>(ctl::kMinuteSlider)->value(), 7);
    EXPECT_TRUE(checked(dlg, ctl::kGo));
    auto* com3 = dlg.control<QLineEdit>(ctl::kStatusCom1 + 2);
    EXPECT_EQ(com3->text(), QStringLiteral("Ready for Veltra"));
    EXPECT_TRUE(com3->isEnabled());
    EXPECT_EQ(com3->toolTip(), QStringLiteral("why"));
}

TEST_F(PanelViewTest, operatorTypingSurvivesAnUnrelatedAction) {
    auto* repeat = dlg.control<QLineEdit>(ctl::kRepeatEdit);
    QTest::keyClicks(repeat, "12");
    auto* minutes = dlg.control<QLineEdit>(ctl::kMinuteEdit);
    QTest::keyClicks(minutes, "3");
    dlg.control<QPushButton>(ctl::kClear)->click();
    EXPECT_EQ(repeat->text(), QStringLiteral("12"));
    EXPECT_EQ(dlg.state().repeatText, "12");
    EXPECT_EQ(minutes->text(), QStringLiteral("3"));
    EXPECT_EQ(dlg.state().editedTime.minutes, "3");
}

TEST_F(PanelViewTest, typingAnOutOfRangeHourWarnsAndEmptiesTheField) {
    test::ModalWatcher watcher;
    auto* hours = dlg.control<QLineEdit>(ctl::kHourEdit);
    QTest::keyClicks(hours, "6");
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(watcher.boxes[0].title, QStringLiteral("Warning"));
    EXPECT_EQ(watcher.boxes[0].text, QStringLiteral("Hours number must be less than 6! Please retype."));
    EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(watcher.boxes[0].buttons, QMessageBox::Ok);
    EXPECT_EQ(hours->text(), QString());
    EXPECT_EQ(dlg.control<TrackBar>(ctl::kHourSlider)->value(), 0);
}

TEST_F(PanelViewTest, fiveHoursEmptiesTheOtherFieldsWithoutANestedCheck) {
    test::ModalWatcher watcher;
    QTest::keyClicks(dlg.control<QLineEdit>(ctl::kMinuteEdit), "12");
    QTest::keyClicks(dlg.control<QLineEdit>(ctl::kHourEdit), "5");
    // Emptying the minutes is the panel's own write: no "maximum" box for it.
    EXPECT_TRUE(watcher.boxes.empty());
    EXPECT_EQ(text(dlg, ctl::kMinuteEdit), QString());
    QTest::keyClicks(dlg.control<QLineEdit>(ctl::kSecondEdit), "1");
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(watcher.boxes[0].text, QStringLiteral("Timer has reached the maximum value - 5 hours."));
    EXPECT_EQ(text(dlg, ctl::kSecondEdit), QString());
}

TEST_F(PanelViewTest, programmaticShowNeverRunsAFieldCheck) {
    test::ModalWatcher watcher;
    PanelState& s = dlg.state();
    s.editedTime.hours = "6";
    s.editedTime.minutes = "99";
    dlg.show(s);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(watcher.boxes.empty());
    EXPECT_EQ(text(dlg, ctl::kHourEdit), QStringLiteral("6"));
    EXPECT_EQ(text(dlg, ctl::kMinuteEdit), QStringLiteral("99"));
}

TEST_F(PanelViewTest, releasingTheHourSliderSetsTheHourText) {
    auto* slider = dlg.control<TrackBar>(ctl::kHourSlider);
    slider->setValue(4);  // a drag leaves the handle here
    QTest::mouseRelease(slider, Qt::LeftButton);
    EXPECT_EQ(text(dlg, ctl::kHourEdit), QStringLiteral("4"));
    EXPECT_EQ(dlg.state().sliders[kHours], 4);
}

TEST_F(PanelViewTest, choosingATimerShowsItsStoredValue) {
    PanelState& s = dlg.state();
    s.exposureTime.minutes = "7";
    s.delayTime.seconds = "9";
    auto* combo = dlg.control<QComboBox>(ctl::kTimerSelect);
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Down);  // "Delay Time"
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(text(dlg, ctl::kSecondEdit), QStringLiteral("9"));
    QTest::keyClick(combo, Qt::Key_Down);  // "Exposure Time"
    EXPECT_EQ(dlg.state().timerSelectIndex, 1);
    EXPECT_EQ(text(dlg, ctl::kMinuteEdit), QStringLiteral("7"));
    EXPECT_EQ(text(dlg, ctl::kSecondEdit), QString());
    EXPECT_EQ(dlg.control<TrackBar>(ctl::kMinuteSlider)->value(), 7);
}

TEST_F(PanelViewTest, radioClicksAndCheckBoxesReachThePanel) {
    // No port is open, so nothing is sent; the state still follows the clicks.
    test::ModalWatcher watcher;
    dlg.control<QRadioButton>(ctl::kEnableOnLow)->click();
    EXPECT_EQ(dlg.state().triggerMode, 1);
    dlg.control<QCheckBox>(ctl::kTriggerPulse)->click();
    EXPECT_EQ(dlg.state().triggerMode, -1);
    EXPECT_FALSE(checked(dlg, ctl::kEnableOnLow));
    EXPECT_FALSE(checked(dlg, ctl::kTriggerPulse));
    dlg.control<QCheckBox>(ctl::kTriggerPulse)->click();
    EXPECT_TRUE(checked(dlg, ctl::kEnableOnHigh));
    EXPECT_TRUE(checked(dlg, ctl::kTriggerPulse));
    dlg.control<QRadioButton>(ctl::kSoft)->click();
    EXPECT_EQ(dlg.state().shutterMode, 1);
    EXPECT_EQ(text(dlg, ctl::kOpeningLabel), QStringLiteral("70 ms"));
    dlg.control<QRadioButton>(ctl::kOpen)->click();
    EXPECT_EQ(dlg.state().shutterPosition, 0);
    // Clicking the checked radio keeps it checked.
    dlg.control<QRadioButton>(ctl::kOpen)->click();
    EXPECT_TRUE(checked(dlg, ctl::kOpen));
}

TEST_F(PanelViewTest, goWithoutARepeatNumberWarns) {
    test::ModalWatcher watcher;
    dlg.control<QRadioButton>(ctl::kGo)->click();
    ASSERT_FALSE(watcher.boxes.empty());
    EXPECT_EQ(watcher.boxes[0].text, QStringLiteral("Please set the repeat number first, then try again!"));
    EXPECT_TRUE(checked(dlg, ctl::kGo));
}

TEST_F(PanelViewTest, neutralDensityStepsDialogIsAnsweredThroughThePrompter) {
    test::ModalWatcher watcher;
    watcher.dialogs.push_back([](QDialog* d) {
        QTest::keyClicks(d->findChild<QLineEdit*>(QStringLiteral("ctl1099")), "37");
        d->findChild<QPushButton*>(QStringLiteral("ctl1"))->click();
    });
    dlg.control<QRadioButton>(ctl::kNeutralDensity)->click();
    EXPECT_EQ(watcher.unhandledDialogs, 0);
    EXPECT_EQ(text(dlg, ctl::kNeutralDensity), QStringLiteral("Neutral Density - 37"));
    EXPECT_EQ(dlg.state().ndSteps, 37);
}

TEST_F(PanelViewTest, logShowsOnlyNewRowsAndResetsAfterClear) {
    auto* model = qobject_cast<ReceivedLogModel*>(dlg.receivedList()->model());
    ASSERT_NE(model, nullptr);
    QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(model, &QAbstractItemModel::modelReset);
    PanelState& s = dlg.state();
    s.log.append("238       0xEE");
    s.log.append("5           0x05");
    dlg.show(s);
    ASSERT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 0);
    EXPECT_EQ(inserted[0][2].toInt(), 1);
    s.log.append("13         0x0D");
    dlg.show(s);
    ASSERT_EQ(inserted.size(), 2);
    EXPECT_EQ(inserted[1][1].toInt(), 2);
    EXPECT_EQ(model->rowCount(), 3);
    EXPECT_EQ(model->index(2, 0).data().toString(), QStringLiteral("13         0x0D"));
    EXPECT_EQ(reset.size(), 0);

    dlg.control<QPushButton>(ctl::kClear)->click();
    EXPECT_EQ(model->rowCount(), 0);
    EXPECT_EQ(reset.size(), 1);
    s.log.append("1           0x01");
    dlg.show(s);
    EXPECT_EQ(model->rowCount(), 1);
}

TEST_F(PanelViewTest, logStaysFastWithAMillionLinesAndFollowsTheNewest) {
    PanelState& s = dlg.state();
    for (int i = 0; i < 1'000'000; ++i)
        s.log.append("238       0xEE");
    dlg.show(s);
    QCoreApplication::processEvents();
    auto* list = dlg.receivedList();
    ASSERT_EQ(list->model()->rowCount(), 1'000'000);

    // Bytes that come one per turn of the event loop, the slowest case: each
    // costs a show and the view's work after it.
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 100; ++i) {
        s.log.append("5           0x05");
        dlg.show(s);
        QCoreApplication::processEvents();
    }
    const qint64 ms = clock.elapsed();
    EXPECT_LT(ms, 1500) << "100 lines onto a million took " << ms << " ms";
    EXPECT_EQ(list->model()->rowCount(), 1'000'100);
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return list->verticalScrollBar()->value() == list->verticalScrollBar()->maximum() &&
               list->verticalScrollBar()->maximum() > 0;
    }, 5000));
    const QModelIndex last = list->indexAt(QPoint(2, list->viewport()->height() - 2));
    EXPECT_GE(last.row(), 1'000'090);
}

TEST_F(PanelViewTest, logDoesNotJumpWhileTheOperatorReadsOlderLines) {
    PanelState& s = dlg.state();
    for (int i = 0; i < 200; ++i)
        s.log.append("238       0xEE");
    dlg.show(s);
    auto* bar = dlg.receivedList()->verticalScrollBar();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }, 5000));
    bar->setValue(0);
    s.log.append("5           0x05");
    dlg.show(s);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(PanelViewTest, exitEndsWithStatusMinusOne) {
    QTest::mouseClick(dlg.control<QPushButton>(ctl::kExit), Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.exitStatus(), -1);
}

TEST_F(PanelViewTest, enterInATextFieldActivatesExit) {
    auto* repeat = dlg.control<QLineEdit>(ctl::kRepeatEdit);
    repeat->setFocus();
    QTest::keyClick(repeat, Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.exitStatus(), -1);
}

TEST_F(PanelViewTest, closingTheWindowEndsWithStatusMinusOne) {
    dlg.close();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.exitStatus(), -1);
}

TEST_F(PanelViewTest, escapeEndsNormally) {
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(dlg.exitStatus(), 0);
}

TEST(PanelPrompterTest, anInjectedPrompterAnswersInsteadOfBoxes) {
    test::ScriptedPrompter prompter;
    CShutterPanelDlg dlg(absentPorts(&prompter));
    dlg.startUp();
    QTest::keyClicks(dlg.control<QLineEdit>(ctl::kMinuteEdit), "60");
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_EQ(prompter.warnings[0], "Minutes number must be less than 60! Please retype.");
    EXPECT_EQ(text(dlg, ctl::kMinuteEdit), QString());
}

}  // namespace
}  // namespace veltra
