// End to end on pseudo-terminals: the panel in-process against veltra-sim, and
// veltra-utility as a process. Received bytes change the state at once and
// reach the widgets at display rate, so checks after bytes look at the state.

#include "gui/cshutterpaneldlg.h"
#include "gui/modal_watcher.h"
#include "gui/panel_template.h"
#include "serial/pty_pair.h"
#include "support/fakes.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <tuple>

namespace veltra::test {
namespace {

constexpr int kWaitMs = 10000;  // generous: CI runs these under AddressSanitizer
using S = PanelState;
using Act = std::function<void(S&)>;
using Lines = std::vector<std::string>;

class PanelSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PtyPair().ok())
            GTEST_SKIP() << "no pseudo-terminal available";
        sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);  // a failing test shows why
        sim.start(VELTRA_SIM_PATH);  // prints its terminal's path as the first line
        ASSERT_TRUE(QTest::qWaitFor([this] { return sim.canReadLine(); }, kWaitMs));
        ptyPath = QString::fromLocal8Bit(sim.readLine()).trimmed();
        openPanel();
    }
    void TearDown() override {
        dlg.reset();  // first: a controller leaving under an open panel is an error box
        sim.terminate(), sim.waitForFinished(5000);
        EXPECT_EQ(watcher.boxes.size(), 0u) << "an error box came up";
    }

    // A new panel on the running simulator; COM2 to COM4 on devices that cannot exist.
    void openPanel() {
        dlg = std::make_unique<CShutterPanelDlg>(
            PanelOptions{{ptyPath, "/nonexistent/com2", "/nonexistent/com3", "/nonexistent/com4"}, &prompter});
        dlg->startUp(), dlg->show();
        ASSERT_TRUE(QTest::qWaitFor([this] { return state().ports[0].status == "Ready for Veltra"; }, kWaitMs));
    }
    S& state() { return dlg->state(); }
    ShutterPanel& p() { return dlg->panel(); }
    const ReplyDecoder& decoder() { return p().decoder(); }
    Lines logFrom(std::size_t at, std::size_t n) {
        Lines lines;
        for (std::size_t i = at; i < std::min(at + n, state().log.size()); ++i) lines.emplace_back(state().log.line(i));
        return lines;
    }

    // Runs `action` and waits for the `lines` log lines of the whole answer, so
    // the next command cannot meet a late byte of this one.
    bool actAndWait(const Act& action, std::size_t lines, std::function<bool()> also = {}) {
        const std::size_t before = state().log.size();
        dlg->act(action);
        return QTest::qWaitFor([&] { return state().log.size() >= before + lines && (!also || also()); }, kWaitMs);
    }

    // Scrambles all a status reply shows, so a panel that did not refresh
    // cannot pass, then "Status": the 0xCC echo and 19 bytes.
    bool status() {
        dlg->act([](S& s) {
            s.shutterPosition = s.shutterMode = s.triggerMode = s.syncMode = s.runningOption = s.timerSelectIndex = -1;
            s.ndSteps = 0, s.triggerPulseChecked = s.syncPulseChecked = false;
            s.delayTime = s.exposureTime = s.editedTime = {};
            s.repeatText = s.leftCycleText = s.ndCaption = s.openingLabel = s.closingLabel = "?";
            s.delayLabel = s.exposureLabel = s.cycleLabel = "?";
        });
        const std::size_t at = state().log.size();
        return actAndWait([this](S& s) { p().onStatus(s); }, 20,
                          [this] { return !decoder().statusReplyInProgress(); }) &&
               logFrom(at, 1) == Lines{"204       0xCC"};
    }

    QProcess sim;
    QString ptyPath;
    ScriptedPrompter prompter;
    ModalWatcher watcher;  // answers unexpected boxes, so they fail the test instead of hanging it
    std::unique_ptr<CShutterPanelDlg> dlg;
};

TEST_F(PanelSimTest, startUp_com1ReadyOthersDisconnectedAndDisabled) {
    for (int i = 0; i < kPortCount; ++i) {
        const QWidget* edit = dlg->control(ctl::kStatusCom1 + i);
        EXPECT_TRUE(QTest::qWaitFor([&] { return edit->property("text") == (i ? "Disconnected" : "Ready for Veltra"); },
                                    kWaitMs)) << i;
        EXPECT_EQ(edit->isEnabled(), i == 0) << i;
        EXPECT_EQ(state().ports[std::size_t(i)].enabled, i == 0) << i;
    }
    EXPECT_EQ(logFrom(0, 9), Lines{"238       0xEE"});
}

TEST_F(PanelSimTest, everyCommand_isReadBackByStatus) {
    const TimerValue delay{"0", "1", "2", "345", "6"}, exposure{"1", "2", "3", "456", "7"};
    struct Row { const char* name; Act command; std::size_t lines; std::function<void(const S&)> expect; };
    const Row rows[] = {
        {"Open", [&](S& s) { p().onOpen(s); }, 2, [](auto& s) { EXPECT_EQ(s.shutterPosition, 0); }},
        {"Close", [&](S& s) { p().onClose(s); }, 2, [](auto& s) { EXPECT_EQ(s.shutterPosition, 1); }},
        {"Soft", [&](S& s) { p().onSoft(s); }, 2,
         [](auto& s) { EXPECT_EQ(std::tie(s.shutterMode, s.closingLabel), std::tuple(1, "70 ms")); }},
        {"Neutral Density 72", [&](S& s) { prompter.ndAnswers.push_back("72"), p().onNeutralDensity(s, s.shutterMode); }, 3,
         [](auto& s) { EXPECT_EQ(s.ndCaption + ", " + s.openingLabel, "Neutral Density - 72, 19.0 ms"); }},
        {"Fast", [&](S& s) { p().onFast(s); }, 2,
         [](auto& s) { EXPECT_EQ(std::tie(s.shutterMode, s.ndCaption), std::tuple(0, "Neutral Density")); }},
        // The box goes by the radio group: a click with one checked switches off, else on.
        {"Trigger Pulse off", [&](S& s) { s.triggerMode = 1, s.triggerPulseChecked = false, p().onTriggerPulse(s); }, 3,
         [](auto& s) { EXPECT_EQ(std::tie(s.triggerMode, s.triggerPulseChecked), std::tuple(-1, false)); }},
        {"Trigger Pulse on", [&](S& s) { s.triggerMode = -1, s.triggerPulseChecked = true, p().onTriggerPulse(s); }, 3,
         [](auto& s) { EXPECT_EQ(std::tie(s.triggerMode, s.triggerPulseChecked), std::tuple(0, true)); }},
        {"Trigger radio 2", [&](S& s) { p().onTriggerRadio(s, 2); }, 3,
         [](auto& s) { EXPECT_EQ(std::tie(s.triggerMode, s.triggerPulseChecked), std::tuple(2, true)); }},
        {"SYNC Pulse off", [&](S& s) { s.syncMode = 0, s.syncPulseChecked = false, p().onSyncPulse(s); }, 3,
         [](auto& s) { EXPECT_EQ(std::tie(s.syncMode, s.syncPulseChecked), std::tuple(-1, false)); }},
        {"Sync radio 0", [&](S& s) { p().onSyncRadio(s, 0); }, 3,
         [](auto& s) { EXPECT_EQ(std::tie(s.syncMode, s.syncPulseChecked), std::tuple(0, true)); }},
        {"Set Timer: delay", [&](S& s) { s.timerSelectIndex = 0, s.editedTime = delay, p().onSetTimer(s); }, 7,
         [&](auto& s) { EXPECT_EQ(std::tie(s.delayTime, s.delayLabel), std::tuple(delay, "00 : 01 : 02 : 345 : 6")); }},
        {"Set Timer: exposure", [&](S& s) { s.timerSelectIndex = 1, s.editedTime = exposure, p().onSetTimer(s); }, 7,
         [&](auto& s) {
             EXPECT_EQ(std::tie(s.exposureTime, s.exposureLabel), std::tuple(exposure, "01 : 02 : 03 : 456 : 7"));
             EXPECT_EQ(s.cycleLabel, "Cycle Time  -  01 : 03 : 05 : 826 : 3");  // Fast: 24 ms open and close
         }},
        {"Send to Controller: 300", [&](S& s) { s.repeatText = "300", p().onSendRepeat(s); }, 5,
         [](auto& s) { EXPECT_EQ(std::tie(s.repeatText, s.leftCycleText), std::tuple("300", "300")); }},
        {"On Power Up", [&](S& s) { p().onRunningOption(s, 0); }, 3, [](auto& s) { EXPECT_EQ(s.runningOption, 0); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(actAndWait(row.command, row.lines));
        ASSERT_TRUE(status());
        row.expect(state());
    }
}

TEST_F(PanelSimTest, reset_refreshesByItself_andControllerInfoIsTwoLines) {
    ASSERT_TRUE(actAndWait([&](S& s) { p().onSoft(s); }, 2));
    std::size_t at = state().log.size();
    // FB at once, 0D once the controller is back, then the Status the panel asks for by itself.
    ASSERT_TRUE(actAndWait([&](S& s) { p().onReset(s); }, 22,
                           [this] { return !decoder().statusRequestPending() && !decoder().statusReplyInProgress(); }));
    EXPECT_EQ(logFrom(at, 3), (Lines{"251       0xFB", "13         0x0D", "204       0xCC"}));
    EXPECT_EQ(std::tie(state().shutterMode, state().openingLabel, state().repeatText), std::tuple(0, "12 ms", "1"));

    at = state().log.size();
    ASSERT_TRUE(actAndWait([&](S& s) { p().onGetControllerInfo(s); }, 3));
    ASSERT_TRUE(status());  // its echo comes next: the twelve info bytes are not logged one by one
    EXPECT_EQ(logFrom(at, 4), (Lines{"253       0xFD", "VELTRA S", "1.12", "204       0xCC"}));
}

TEST_F(PanelSimTest, applyWithGo_countsDown_thenSaveRestartLoadShowsAndStatusReadsTheSame) {
    const TimerValue times[] = {{"0", "0", "0", "100", "0"}, {"0", "0", "0", "150", "0"}};  // delay, exposure
    for (int i : {0, 1})
        ASSERT_TRUE(actAndWait([&](S& s) { s.timerSelectIndex = i, s.editedTime = times[i], p().onSetTimer(s); }, 7));
    ASSERT_TRUE(actAndWait([&](S& s) { s.repeatText = "3", p().onSendRepeat(s); }, 5));
    ASSERT_TRUE(actAndWait([&](S& s) { p().onSoft(s); }, 2));
    // Go, rising edge, high for open: only the download carries these.
    dlg->act([&](S& s) { s.runningOption = 2, s.triggerMode = 2, s.syncMode = 0, p().onApply(s); });
    // The run counts at every close; the controller ends it with a carriage return.
    Lines left{state().leftCycleText};
    ASSERT_TRUE(QTest::qWaitFor([&] {
        if (state().leftCycleText != left.back())
            left.push_back(state().leftCycleText);
        return !decoder().applyInProgress() && decoder().runMode() == 0 && state().log.back() == "13         0x0D";
    }, kWaitMs)) << decoder().applyInProgress() << " " << decoder().runMode();
    EXPECT_EQ(left, (Lines{"3", "2", "1", "3"}));

    const auto shown = [](const S& s) {
        return std::tuple(s.delayLabel, s.exposureLabel, s.cycleLabel, s.repeatText, s.runningOption, s.shutterMode,
                          s.shutterPosition, s.triggerMode, s.syncMode);
    };
    const auto saved = shown(state());
    EXPECT_EQ(std::get<2>(saved), "Cycle Time  -  00 : 00 : 00 : 390 : 0");  // Soft: 70 ms open and close
    QTemporaryDir dir;
    prompter.file = dir.filePath("run.cfg").toStdString();
    dlg->act([&](S& s) { p().onSaveConfigFile(s); });

    dlg.reset();  // restart: a new panel on the same, still running controller
    ASSERT_NO_FATAL_FAILURE(openPanel());
    EXPECT_NE(shown(state()), saved);
    dlg->act([this](S& s) { p().onLoadConfigFile(s); });
    EXPECT_TRUE(prompter.errors.empty()) << prompter.errors.front();
    EXPECT_EQ(shown(state()), saved);
    EXPECT_EQ(dlg->control(ctl::kDelayLabel)->property("text"), "00 : 00 : 00 : 100 : 0");
    EXPECT_TRUE(dlg->control(ctl::kGo)->property("checked").toBool());
    ASSERT_TRUE(status());  // the controller still holds what the download gave it
    EXPECT_EQ(shown(state()), saved);
}

// A repeat count of 204 goes out as FA F0 00 CC: its echo is not a status reply.
TEST_F(PanelSimTest, repeat204_thenStatusTwice_readsTheControllersStatus) {
    ASSERT_TRUE(actAndWait([&](S& s) { s.repeatText = "204", p().onSendRepeat(s); }, 5));
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(status()) << i;
        EXPECT_EQ(state().repeatText, "204") << i;
        EXPECT_EQ(std::tie(state().shutterMode, state().runningOption), std::tuple(0, -1)) << i;
        EXPECT_EQ(state().delayLabel, "00 : 00 : 00 : 000 : 0") << i;
    }
}

// The same against a bare line that echoes and answers as a controller would.
TEST(RawLineTest, repeat204_thenStatusTwice_readsTheStatusSent) {
    PtyPair pty;
    if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal available";
    ScriptedPrompter prompter;
    ModalWatcher watcher;
    CShutterPanelDlg dlg(PanelOptions{{pty.slavePath(), "/nonexistent/2", "/nonexistent/3", "/nonexistent/4"}, &prompter});
    dlg.startUp();
    ASSERT_EQ(pty.receive(1), QByteArray("\xEE", 1));
    pty.send(QByteArray("\xEE", 1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.state().ports[0].status == "Ready for Veltra"; }, kWaitMs));
    dlg.act([&](S& s) { s.repeatText = "204", dlg.panel().onSendRepeat(s); });
    ASSERT_EQ(pty.receive(4), QByteArray("\xFA\xF0\x00\xCC", 4));
    pty.send(QByteArray("\xFA\xF0\x00\xCC\x0D", 5));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.state().log.size() == 6; }, kWaitMs));
    const QByteArray reply("\xCC\xAC\xDE\x48\x00\xA2\xB1\x10\x00\x05\x00\x00\x00\x00\x00\x00\x00\xF2\x00\x03", 20);
    for (int i = 0; i < 2; ++i) {
        dlg.act([&](S& s) { s.repeatText = "?", dlg.panel().onStatus(s); });
        ASSERT_EQ(pty.receive(1), QByteArray("\xCC", 1));
        pty.send(reply);
        ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.state().repeatText == "3"; }, kWaitMs)) << i;
        EXPECT_EQ(dlg.state().ndCaption, "Neutral Density - 72");
        EXPECT_EQ(dlg.state().delayLabel, "00 : 00 : 05 : 000 : 0");
        EXPECT_FALSE(dlg.panel().decoder().statusReplyInProgress());
    }
    EXPECT_EQ(watcher.boxes.size(), 0u);
}

TEST(UtilityProcessTest, onlineOnEachPort_lineSettings_andOnlyTheFirstEchoMakesItsPortReady) {
    PtyPair pty1, pty3;
    if (!pty1.ok() || !pty3.ok())
        GTEST_SKIP() << "no pseudo-terminal available";
    QProcess utility;
    utility.setEnvironment(QProcess::systemEnvironment() << "QT_LOGGING_RULES=veltra.status.info=true");
    QString err;  // its standard error so far
    const auto errHas = [&](const char* text, int ms) {
        return QTest::qWaitFor([&] { return (err += utility.readAllStandardError()).contains(text); }, ms);
    };

    const QDeadlineTimer twoSeconds(2000);
    utility.start(VELTRA_UTILITY_PATH, {"--port", "1=" + pty1.slavePath(), "--port", "3=" + pty3.slavePath()});
    EXPECT_EQ(pty1.receive(1, 2000).toHex(), "ee");
    EXPECT_EQ(pty3.receive(1, 2000).toHex(), "ee");
    EXPECT_FALSE(twoSeconds.hasExpired());
    // COM1 at 9600 baud, COM3 at 19200; 8 data bits, no parity, 1 stop bit.
    for (const auto& [pty, speed] : {std::pair{&pty1, speed_t(B9600)}, std::pair{&pty3, speed_t(B19200)}}) {
        const termios t = pty->slaveTermios();
        EXPECT_EQ(std::tuple(cfgetispeed(&t), cfgetospeed(&t)), std::tuple(speed, speed));
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));
    }
    // The first Online echo makes its port ready; a later one on another port does not.
    ASSERT_TRUE(pty1.send("\xEE"));
    EXPECT_TRUE(errHas("COM1: Ready for Veltra", kWaitMs)) << err.toStdString();
    ASSERT_TRUE(pty3.send("\xEE"));
    EXPECT_FALSE(errHas("COM3: Ready for Veltra", 500)) << err.toStdString();
    // Nothing else on either line in the first 2 s, nor in answer to the echoes.
    EXPECT_EQ(pty1.receive(1, int(qMax(qint64(50), twoSeconds.remainingTime()))).toHex(), "");
    EXPECT_EQ(pty3.receive(1, 50).toHex(), "");
    utility.terminate();
    EXPECT_TRUE(utility.waitForFinished(5000));
}

}  // namespace
}  // namespace veltra::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");  // also for the utility, and when started by hand
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
