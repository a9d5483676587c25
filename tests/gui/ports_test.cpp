// The panel on real links: start-up, the Online echo, commands on the wire,
// "Configurate", and the status log lines.

#include "gui/cportsettingsdlg.h"
#include "gui/cshutterpaneldlg.h"
#include "gui/panel_template.h"
#include "modal_watcher.h"
#include "serial/pty_pair.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QAbstractItemView>
#include <QLoggingCategory>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <termios.h>

namespace veltra {
namespace {

QString status(CShutterPanelDlg& dlg, int port) {
    return dlg.control<QLineEdit>(ctl::kStatusCom1 + port - 1)->text();
}

QString logLine(CShutterPanelDlg& dlg, int row) {
    return dlg.receivedList()->model()->index(row, 0).data().toString();
}

int logRows(CShutterPanelDlg& dlg) { return dlg.receivedList()->model()->rowCount(); }

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(static_cast<char>(v));
    return b;
}

// COM1 is a pseudo-terminal the test plays the controller on; COM2 to COM4
// point at devices that do not exist.
class PanelOnPtyTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!pty.ok())
            GTEST_SKIP() << "no pseudo-terminal available";
        PanelOptions o;
        o.devices[0] = pty.slavePath();
        for (int i = 1; i < kPortCount; ++i)
            o.devices[static_cast<std::size_t>(i)] = QStringLiteral("/nonexistent/veltra-com%1").arg(i + 1);
        dlg = std::make_unique<CShutterPanelDlg>(o);
        dlg->startUp();
        dlg->show();
    }

    // Start-up sent Online; the controller answers it.
    void answerOnline() {
        ASSERT_EQ(pty.receive(1), bytes({0xEE}));
        ASSERT_TRUE(pty.send(bytes({0xEE})));
        ASSERT_TRUE(QTest::qWaitFor([&] { return status(*dlg, 1) == QStringLiteral("Ready for Veltra"); }, 5000));
    }

    test::PtyPair pty;
    std::unique_ptr<CShutterPanelDlg> dlg;
};

TEST_F(PanelOnPtyTest, onlineEchoMakesThePortReady) {
    EXPECT_EQ(status(*dlg, 1), QStringLiteral("Connected"));
    EXPECT_TRUE(dlg->control(ctl::kStatusCom1)->isEnabled());
    for (int port = 2; port <= kPortCount; ++port) {
        EXPECT_EQ(status(*dlg, port), QStringLiteral("Disconnected"));
        EXPECT_FALSE(dlg->control(ctl::kStatusCom1 + port - 1)->isEnabled());
    }
    EXPECT_EQ(dlg->panel().protocol().activePort, 1);
    answerOnline();
    ASSERT_EQ(logRows(*dlg), 1);
    EXPECT_EQ(logLine(*dlg, 0), QStringLiteral("238       0xEE"));
    const termios t = pty.slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
}

struct WireRow {
    int id;
    std::initializer_list<int> sent;
};

TEST_F(PanelOnPtyTest, buttonsAndRadiosSendTheirCommands) {
    answerOnline();
    const WireRow rows[] = {
        {ctl::kOnline, {0xEE}},          {ctl::kStatus, {0xCC}},        {ctl::kReset, {0xFB}},
        {ctl::kGetInfo, {0xFD}},         {ctl::kPowerOff, {0xCF}},      {ctl::kPowerOn, {0xCE}},
        {ctl::kStop, {0xBF}},            {ctl::kOpen, {0xAA}},          {ctl::kClose, {0xAC}},
        {ctl::kSoft, {0xDD}},            {ctl::kFast, {0xDC}},          {ctl::kEnableOnLow, {0xFA, 0xA2}},
        {ctl::kRisingEdge, {0xFA, 0xA3}}, {ctl::kFallingEdge, {0xFA, 0xA4}},
        {ctl::kTriggerPulse, {0xFA, 0xA0}}, {ctl::kEnableOnHigh, {0xFA, 0xA1}},
        {ctl::kHighForOpen, {0xFA, 0xB1}}, {ctl::kSyncPulse, {0xFA, 0xB0}},
        {ctl::kLowForOpen, {0xFA, 0xB2}}, {ctl::kOnPowerUp, {0xFA, 0xF1}},
    };
    for (const WireRow& r : rows) {
        dlg->control<QAbstractButton>(r.id)->click();
        const QByteArray want = bytes(r.sent);
        EXPECT_EQ(pty.receive(static_cast<int>(want.size())).toHex(' '), want.toHex(' ')) << "control " << r.id;
    }
}

TEST_F(PanelOnPtyTest, repeatNumberGoesOutWithSendToController) {
    answerOnline();
    QTest::keyClicks(dlg->control<QLineEdit>(ctl::kRepeatEdit), "300");
    dlg->control<QAbstractButton>(ctl::kSendRepeat)->click();
    EXPECT_EQ(pty.receive(4).toHex(' '), bytes({0xFA, 0xF0, 0x01, 0x2C}).toHex(' '));
    EXPECT_EQ(dlg->control<QLineEdit>(ctl::kLeftCycleEdit)->text(), QStringLiteral("300"));
}

TEST_F(PanelOnPtyTest, configurateShowsTheSettingsAndReopensWithTheChoice) {
    answerOnline();
    const bool parityHolds = pty.holdsParityAndDataBits();
    test::ModalWatcher watcher;
    QStringList shown;
    watcher.dialogs.push_back([&](QDialog* d) {
        auto* dlgp = qobject_cast<CPortSettingsDlg*>(d);
        ASSERT_NE(dlgp, nullptr);
        shown = {dlgp->baudText(), dlgp->parityText(), dlgp->dataBitsText(), dlgp->stopBitsText(),
                 dlgp->sendBufferText(), dlgp->deviceName()};
        auto* baud = dlgp->control<QComboBox>(CPortSettingsDlg::kBaudList);
        baud->setCurrentIndex(baud->findText(QStringLiteral("2400")));
        auto* parity = dlgp->control<QComboBox>(CPortSettingsDlg::kParityList);
        parity->setCurrentIndex(parity->findText(QStringLiteral("EVEN")));
        dlgp->control<QPushButton>(1)->click();
    });
    dlg->control<QPushButton>(ctl::kConfigurateCom1)->click();
    EXPECT_EQ(watcher.unhandledDialogs, 0);
    EXPECT_EQ(shown, (QStringList{"9600", "NONE", "8", "1", "512", pty.slavePath()}));

    const termios t = pty.slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B2400));
    if (parityHolds) {
        EXPECT_NE(t.c_cflag & PARENB, 0u);
        EXPECT_EQ(t.c_cflag & PARODD, 0u);
        EXPECT_TRUE(watcher.boxes.empty());
    }
    // (A Linux pty keeps no parity bit; the link still runs with the choice.)

    // Shown again, the dialog offers what was chosen.
    watcher.dialogs.push_back([&](QDialog* d) {
        auto* dlgp = qobject_cast<CPortSettingsDlg*>(d);
        ASSERT_NE(dlgp, nullptr);
        shown = {dlgp->baudText(), dlgp->parityText(), dlgp->sendBufferText()};
        dlgp->control<QPushButton>(2)->click();
    });
    dlg->control<QPushButton>(ctl::kConfigurateCom1)->click();
    EXPECT_EQ(shown, (QStringList{"2400", "EVEN", "512"}));

    // The reopened port is shown usable and keeps receiving.
    EXPECT_TRUE(dlg->control(ctl::kStatusCom1)->isEnabled());
    const int rows = logRows(*dlg);
    ASSERT_TRUE(pty.send(bytes({0x05})));
    ASSERT_TRUE(QTest::qWaitFor([&] { return logRows(*dlg) == rows + 1; }, 5000));
    EXPECT_EQ(logLine(*dlg, rows), QStringLiteral("5           0x05"));
}

TEST_F(PanelOnPtyTest, configurateCancelLeavesThePortAlone) {
    answerOnline();
    const termios before = pty.slaveTermios();
    test::ModalWatcher watcher;
    watcher.dialogs.push_back([](QDialog* d) {
        auto* baud = d->findChild<QComboBox*>(QStringLiteral("ctl1026"));
        baud->setCurrentIndex(baud->findText(QStringLiteral("300")));
        d->findChild<QPushButton*>(QStringLiteral("ctl2"))->click();
    });
    dlg->control<QPushButton>(ctl::kConfigurateCom1)->click();
    EXPECT_EQ(watcher.unhandledDialogs, 0);
    EXPECT_TRUE(watcher.boxes.empty());
    const termios after = pty.slaveTermios();
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    // Still open and monitored: a Status request goes out and its echo is logged.
    dlg->control<QAbstractButton>(ctl::kStatus)->click();
    EXPECT_EQ(pty.receive(1), bytes({0xCC}));
}

TEST_F(PanelOnPtyTest, configurateOnAnAbsentDeviceLeavesItDisconnected) {
    test::ModalWatcher watcher;
    watcher.dialogs.push_back([](QDialog* d) { d->findChild<QPushButton*>(QStringLiteral("ctl1"))->click(); });
    dlg->control<QPushButton>(ctl::kConfigurateCom1 + 1)->click();
    EXPECT_EQ(watcher.unhandledDialogs, 0);
    EXPECT_EQ(status(*dlg, 2), QStringLiteral("Disconnected"));
    EXPECT_FALSE(dlg->control(ctl::kStatusCom1 + 1)->isEnabled());
}

// Captures the "veltra.status" lines.
std::vector<std::string>* g_statusLines = nullptr;
void captureStatus(QtMsgType, const QMessageLogContext& context, const QString& message) {
    if (g_statusLines && context.category && std::string_view(context.category) == "veltra.status")
        g_statusLines->push_back(message.toStdString());
}

TEST_F(PanelOnPtyTest, statusChangesAreLoggedWhenTheCategoryIsOn) {
    std::vector<std::string> lines;
    g_statusLines = &lines;
    QLoggingCategory::setFilterRules(QStringLiteral("veltra.status.info=true"));
    const QtMessageHandler previous = qInstallMessageHandler(captureStatus);
    answerOnline();
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    g_statusLines = nullptr;
    EXPECT_EQ(lines, std::vector<std::string>{"COM1: Ready for Veltra"});
}

TEST(PanelStatusLogTest, startUpLogsEachPortsStatus) {
    std::vector<std::string> lines;
    g_statusLines = &lines;
    QLoggingCategory::setFilterRules(QStringLiteral("veltra.status.info=true"));
    const QtMessageHandler previous = qInstallMessageHandler(captureStatus);
    {
        PanelOptions o;
        for (int i = 0; i < kPortCount; ++i)
            o.devices[static_cast<std::size_t>(i)] = QStringLiteral("/nonexistent/veltra-com%1").arg(i + 1);
        CShutterPanelDlg dlg(o);
        dlg.startUp();
    }
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    g_statusLines = nullptr;
    EXPECT_EQ(lines, (std::vector<std::string>{"COM1: Disconnected", "COM2: Disconnected", "COM3: Disconnected",
                                               "COM4: Disconnected"}));
}

TEST(PanelStatusLogTest, categoryIsQuietByDefault) {
    std::vector<std::string> lines;
    g_statusLines = &lines;
    const QtMessageHandler previous = qInstallMessageHandler(captureStatus);
    {
        PanelOptions o;
        for (int i = 0; i < kPortCount; ++i)
            o.devices[static_cast<std::size_t>(i)] = QStringLiteral("/nonexistent/veltra-com%1").arg(i + 1);
        CShutterPanelDlg dlg(o);
        dlg.startUp();
    }
    qInstallMessageHandler(previous);
    g_statusLines = nullptr;
    EXPECT_TRUE(lines.empty());
}

}  // namespace
}  // namespace veltra
