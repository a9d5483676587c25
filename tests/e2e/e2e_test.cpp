// End to end on pseudo-terminals: the panel in-process against veltra-sim or a
// bare line, and veltra-utility as a process. Received bytes change the state
// at once and reach the widgets at display rate, so checks look at the state.

#include "gui/cportsettingsdlg.h"
#include "gui/cshutterpaneldlg.h"
#include "gui/modal_watcher.h"
#include "gui/panel_controls.h"
#include "serial/device_node.h"
#include "serial/pty_pair.h"
#include "support/fakes.h"
#include "support/qt_print.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>

namespace veltra::test {
namespace {

constexpr int kWaitMs = 10000;  // generous: CI runs these under AddressSanitizer
// Against a bare line that echoes and answers as a controller would. A port
// that becomes ready has its status read once without "Status", and the
// widgets show the controller, not the template (trigger "Enable on High"
// checked). Then Status, with every field it shows scrambled first, and a
// repeat of 204 (FA F0 00 CC) before the reply: the repeat's echo after the
// reply starts no phantom reply, and a second Status reads the same.
TEST(BareLineTest, readOnceWhenReadyThenStatusAndARepeatOf204BeforeTheReply) {
    PtyPair pty;
    if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal available";
    ScriptedPrompter prompter;
    ModalWatcher watcher;  // answers unexpected boxes, so they fail the test instead of hanging it
    CShutterPanelDlg dlg(PanelOptions{{pty.slavePath(), "/nonexistent/com2", "/nonexistent/com3", "/nonexistent/com4"}, &prompter});
    dlg.startUp(), dlg.show();
    ASSERT_EQ(pty.receive(1), QByteArray("\xEE", 1));
    EXPECT_EQ(pty.receive(1, 2000), QByteArray());  // nothing else while the controller does not answer
    const auto checked = [&](int id) { return dlg.control<QAbstractButton>(id)->isChecked(); };
    const PanelState& s = dlg.state();
    EXPECT_TRUE(checked(ctl::kEnableOnHigh));  // the template's
    pty.send(QByteArray("\xEE", 1));
    ASSERT_EQ(pty.receive(1), QByteArray("\xCC", 1));  // read on becoming ready
    EXPECT_EQ(s.ports[0].status, "Ready for Veltra");
    // Close, neutral density 72, trigger on low, sync high for open, delay 5 s, repeat 3.
    const QByteArray reply("\xCC\xAC\xDE\x48\x00\xA2\xB1\x10\x00\x05\x00\x00\x00\x00\x00\x00\x00\xF2\x00\x03", 20);
    pty.send(reply);
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.log.size() == 21 && !dlg.panel().decoder().statusReplyInProgress(); }, kWaitMs));
    EXPECT_TRUE(QTest::qWaitFor([&] { return checked(ctl::kEnableOnLow); }, kWaitMs));
    EXPECT_EQ(std::tuple(checked(ctl::kEnableOnHigh), checked(ctl::kClose), checked(ctl::kHighForOpen)),
              std::tuple(false, true, true));
    EXPECT_EQ(pty.receive(1, 100), QByteArray());  // read once
    for (int i = 0; i < 2; ++i) {
        const std::size_t lines = s.log.size();
        dlg.act([&](PanelState& st) {
            st.shutterMode = st.runningOption = -1;
            st.repeatText = st.ndCaption = st.delayLabel = "?";
            dlg.panel().onStatus(st);
            if (i == 0) st.repeatText = "204", dlg.panel().onSendRepeat(st);
        });
        ASSERT_EQ(pty.receive(i == 0 ? 5 : 1), i == 0 ? QByteArray("\xCC\xFA\xF0\x00\xCC", 5) : QByteArray("\xCC", 1));
        pty.send(i == 0 ? reply + QByteArray("\xFA\xF0\x00\xCC\x0D", 5) : reply);
        const std::size_t want = lines + 20 + (i == 0 ? 5 : 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return s.log.size() == want; }, kWaitMs)) << i;
        EXPECT_EQ(std::tuple(s.repeatText, s.ndCaption, s.delayLabel, dlg.panel().decoder().statusReplyInProgress()),
                  std::tuple("3", "Neutral Density - 72", "00 : 00 : 05 : 000 : 0", false)) << i;
    }
    EXPECT_EQ(watcher.boxes.size(), 0u);
}

// "Configurate" onto a local device treats it as a network port that
// connects: Online goes out, the controller's answer makes the port ready,
// and its status is read at once.
TEST(ConfigurateTest, ontoTheSimulatorsDevice_sendsOnlineIsReadyAndReadsTheStatus) {
    QTemporaryDir dir;
    const QString link = dir.filePath("com1");
    QProcess sim;
    sim.start(VELTRA_SIM_PATH, {"--link", link});
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim.canReadLine(); }, kWaitMs));
    ModalWatcher watcher;
    CShutterPanelDlg dlg(PanelOptions{{"/nonexistent/com1", "/nonexistent/com2", "/nonexistent/com3", "/nonexistent/com4"}, nullptr});
    QByteArray sent;
    dlg.ports().setTrafficHandler([&](int, bool tx, const std::uint8_t* b, std::size_t n) {
        if (tx) sent.append(reinterpret_cast<const char*>(b), qsizetype(n));
    });
    dlg.startUp(), dlg.show();
    watcher.dialogs.append([&](QDialog* d) {
        qobject_cast<CPortSettingsDlg*>(d)->setDeviceName(link);
        d->accept();
    });
    dlg.control<QAbstractButton>(ctl::kConfigurateCom1)->click();
    const PanelState& s = dlg.state();
    EXPECT_TRUE(QTest::qWaitFor([&] { return s.ports[0].status == "Ready for Veltra"; }, kWaitMs)) << s.ports[0].status;
    EXPECT_TRUE(QTest::qWaitFor([&] { return s.log.size() >= 21 && !dlg.panel().decoder().statusReplyInProgress(); }, kWaitMs));
    EXPECT_EQ(sent.toHex(' '), "ee cc");
    EXPECT_TRUE(watcher.boxes.empty());
    sim.terminate(), sim.waitForFinished(kWaitMs);
}

// The program itself: each port gets Online at its own start-up settings. A
// traffic log that takes no lines neither holds up nor ends the panel: a
// pipe nobody reads is refused at once (told, and it runs on), a full device
// and a reader gone are told once. Each run ends by a termination signal as
// "Exit" ends it: status 0 and the port's lock file gone.
TEST(UtilityProcessTest, aTrafficLogThatTakesNoLinesIsToldOnceAndASignalEndsThePanelCleanly) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const std::tuple<QString, int, QByteArray> rows[] = {
        {fifo, SIGTERM, "The traffic log " + fifo.toUtf8() + " cannot be opened: no program reads from this pipe"},
        {"/dev/full", SIGINT, "Traffic log stopped: No space left on device"},
        {"/dev/stdout", SIGHUP, "Traffic log stopped: Broken pipe"},  // as `| head -1`
    };
    for (const auto& [log, signal, told] : rows) {
        SCOPED_TRACE(log.toStdString());
        PtyPair pty, pty3;
        if (!pty.ok() || !pty3.ok()) GTEST_SKIP() << "no pseudo-terminal available";
        QProcess utility;
        int out[2] = {-1, -1};  // the utility's standard output, read as `head -1` reads it
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);  // the child keeps only the end dup2 gives it
        utility.setChildProcessModifier([&out] { ::dup2(out[1], STDOUT_FILENO); });
        utility.start(VELTRA_UTILITY_PATH,
                      {"--traffic-log", log, "--port", "1=" + pty.slavePath(), "--port", "3=" + pty3.slavePath()});
        ::close(out[1]);
        ASSERT_EQ(pty.receive(1, 2000).toHex(), "ee");  // up and running within 2 s
        ASSERT_EQ(pty3.receive(1, 2000).toHex(), "ee");
        // COM1 at 9600 baud, COM3 at 19200; 8 data bits, no parity, 1 stop bit, no flow control.
        for (const auto& [p, speed] : {std::pair{&pty, speed_t(B9600)}, std::pair{&pty3, speed_t(B19200)}}) {
            const termios t = p->slaveTermios();
            EXPECT_EQ(std::tuple(cfgetispeed(&t), cfgetospeed(&t), t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS)),
                      std::tuple(speed, speed, tcflag_t(CS8)));
        }
        const QString lock = deviceLockFile(pty.slavePath());
        EXPECT_TRUE(QFile::exists(lock));
        if (log == "/dev/stdout") {
            char c = 0;
            while (::read(out[0], &c, 1) == 1 && c != '\n') {}
            EXPECT_EQ(c, '\n');
        }
        ::close(out[0]);
        pty.send(QByteArray("\xEE", 1));  // a line to log; the port is ready then
        QByteArray err;
        EXPECT_TRUE(QTest::qWaitFor([&] { return (err += utility.readAllStandardError()).contains(told); }, kWaitMs));
        pty.send(QByteArray("\xEE", 1));
        EXPECT_EQ(utility.state(), QProcess::Running);
        ::kill(static_cast<pid_t>(utility.processId()), signal);
        ASSERT_TRUE(utility.waitForFinished(kWaitMs));
        EXPECT_EQ(std::pair(utility.exitStatus(), utility.exitCode()), std::pair(QProcess::NormalExit, 0));
        EXPECT_EQ((err + utility.readAllStandardError()).count("Traffic log stopped"), log == fifo ? 0 : 1);
        EXPECT_FALSE(QFile::exists(lock)) << lock.toStdString();
    }
}

// A file of remembered ports that is a FIFO is refused (the panel would wait
// on it for good): said on standard error, and the panel starts with its
// defaults. A termination signal ends it with status 0 at once after that
// line, before the panel runs, as well as once it runs.
TEST(UtilityProcessTest, aSettingsFileThatIsAFifoIsRefusedAndASignalEndsThePanelAtAnyStage) {
    QTemporaryDir config;
    ASSERT_TRUE(QDir(config.path()).mkpath("Veltra"));
    const QString fifo = config.filePath("Veltra/veltra-utility.conf");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const bool running : {false, true}) {
        SCOPED_TRACE(running ? "running" : "starting");
        PtyPair pty;
        if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal available";
        QProcess utility;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config.path());
        utility.setProcessEnvironment(env);
        utility.start(VELTRA_UTILITY_PATH, {"--port", "1=" + pty.slavePath()});
        QByteArray err;
        const QByteArray told = "veltra-utility: the remembered ports' file " + fifo.toUtf8() + " is not a regular file (a FIFO)";
        ASSERT_TRUE(QTest::qWaitFor([&] { return (err += utility.readAllStandardError()).contains(told); }, kWaitMs))
            << err.toStdString();
        if (running) {
            ASSERT_EQ(pty.receive(1, 2000).toHex(), "ee");  // up and running
        }
        ::kill(static_cast<pid_t>(utility.processId()), SIGTERM);
        ASSERT_TRUE(utility.waitForFinished(kWaitMs));
        EXPECT_EQ(std::pair(utility.exitStatus(), utility.exitCode()), std::pair(QProcess::NormalExit, 0));
        EXPECT_FALSE(QFile::exists(deviceLockFile(pty.slavePath())));
    }
}

// A network port lost while the panel runs: its box stays up, the server
// takes the port again and it is ready. A termination signal then closes the
// new connection as the program's end, not as one more loss.
TEST(UtilityProcessTest, aSignalAfterAReconnectUnderTheLossBoxLogsTheProgramsEnd) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    std::vector<QByteArray> heard;  // per connection, what the panel sent
    std::vector<QTcpSocket*> peers;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* peer = server.nextPendingConnection()) {
            const std::size_t i = peers.size();
            peers.push_back(peer), heard.emplace_back();
            QObject::connect(peer, &QTcpSocket::readyRead, peer, [&, peer, i] {
                const QByteArray b = peer->readAll();
                heard[i] += b;
                peer->write(b);  // answers as the controller echoes
            });
        }
    });
    QTemporaryDir dir;
    const QString log = dir.filePath("traffic.log");
    QProcess utility;
    utility.start(VELTRA_UTILITY_PATH, {"--traffic-log", log, "--port", QString("1=socket://127.0.0.1:%1").arg(server.serverPort()),
                                        "--port", "2=/nonexistent/com2", "--port", "3=/nonexistent/com3", "--port", "4=/nonexistent/com4"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return heard.size() == 1 && heard[0].startsWith("\xEE\xCC"); }, kWaitMs));
    peers[0]->close();  // the server drops the port: the loss's box comes up, and nobody answers it
    ASSERT_TRUE(QTest::qWaitFor([&] { return heard.size() == 2 && heard[1].startsWith("\xEE\xCC"); }, kWaitMs));
    ::kill(static_cast<pid_t>(utility.processId()), SIGTERM);
    ASSERT_TRUE(utility.waitForFinished(kWaitMs));
    EXPECT_EQ(std::pair(utility.exitStatus(), utility.exitCode()), std::pair(QProcess::NormalExit, 0));
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QStringList events;  // COM1's, without the time
    for (const QByteArray& line : f.readAll().split('\n'))
        if (const qsizetype at = line.indexOf(" -- COM1 "); at >= 0) events << QString::fromUtf8(line.mid(line.indexOf(' ', at + 9) + 1));
    ASSERT_GE(events.size(), 2);
    EXPECT_EQ(events.mid(events.size() - 2).join(" | ").toStdString(), "connected 9600 8N1 | closed: Veltra Utility ends")
        << events.join("\n").toStdString();
    EXPECT_EQ(events.count("closed: The server closed the connection."), 1);
}

}  // namespace
}  // namespace veltra::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");  // also for the utility, and when started by hand
    QTemporaryDir config;  // the utility remembers no ports of the user's own
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
