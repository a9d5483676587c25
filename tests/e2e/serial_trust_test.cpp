// Off the happy path on pseudo-terminals: a box open while the line floods,
// an unplug under the port settings dialog, a controller that goes away and
// comes back at the same path, and the traffic log of a session.

#include "app/traffic_log.h"
#include "gui/cportsettingsdlg.h"
#include "gui/cshutterpaneldlg.h"
#include "gui/log_view.h"
#include "gui/modal_watcher.h"
#include "gui/panel_controls.h"
#include "serial/ccomportlink.h"
#include "serial/pty_pair.h"
#include "support/fakes.h"
#include "support/qt_print.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace veltra::test {
namespace {

constexpr int kWaitMs = 10000;

PanelOptions onCom1(const QString& device, Prompter* prompter = nullptr) {
    return {{device, "/nonexistent/com2", "/nonexistent/com3", "/nonexistent/com4"}, prompter};
}

// The status edit of COM1 as the operator sees it.
QString com1Status(CShutterPanelDlg& dlg) { return dlg.control(ctl::kStatusCom1)->property("text").toString(); }

TEST(ParkedBytesPanelTest, aFloodBehindABoxStaysBoundedAndIsHandledInOneBatchWhenItCloses) {
    PtyPair pty;
    if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminal available";
    PanelOptions options = onCom1(pty.slavePath());
    options.parkLimit = 64 * 1024;
    options.logLines = 16 * 1024;  // the batch alone overflows the list
    CShutterPanelDlg dlg(options);
    dlg.startUp(), dlg.show();
    ASSERT_EQ(pty.receive(1).toHex(), "ee");
    const ReceivedLog& log = dlg.state().log;

    constexpr std::size_t kFlood = 200 * 1024;  // three times what may wait
    std::atomic<std::size_t> written{0};
    std::size_t linesBefore = 0, parkedMemory = 0;
    dlg.act([&](PanelState&) {
        // The action waits in a nested event loop, as a box does, while the line floods.
        linesBefore = static_cast<std::size_t>(log.appendedLines());
        std::thread writer([&] {
            const QByteArray chunk(4096, '\x41');  // plain bytes: each is one log line
            for (ssize_t n = 0; written < kFlood && (n = ::write(pty.masterFd(), chunk.constData(), 4096)) > 0;)
                written += std::size_t(n);
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return written >= kFlood && !pty.slaveHasInput(); }, kWaitMs));
        writer.join();
        QCoreApplication::processEvents();
        parkedMemory = dlg.parkedBytes().memoryBytes();
        EXPECT_EQ(log.appendedLines(), linesBefore);  // nothing decoded behind the box
    });
    // Back from the box: every byte still waiting was decoded before act() returned.
    EXPECT_TRUE(parkedMemory <= options.parkLimit && dlg.parkedBytes().empty()) << parkedMemory;
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.appendedLines() >= linesBefore + options.parkLimit + 1; }, kWaitMs));
    QCoreApplication::processEvents();
    EXPECT_EQ(static_cast<std::size_t>(log.appendedLines()) - linesBefore - 1, options.parkLimit);
    EXPECT_EQ(log.back(), "--- COM1: " + std::to_string(written - options.parkLimit) +
                              " received bytes dropped while a box was open ---");  // still there after its batch
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.receivedList()->rowCount() == int(log.size()); }, kWaitMs));
}

TEST(LogViewDropTest, rowsMoveUpWithTheDroppedLinesAndAStaleRowReadsEmpty) {
    ReceivedLog log(64);
    LogView view;
    view.resize(200, 5 * view.rowHeight());
    for (int i = 0; i < 64; ++i) log.append(std::to_string(i));
    view.sync(log);
    view.setSelectedRow(10);  // the operator reads line "10"
    log.append("64");         // the oldest block (4 lines) goes; the notice takes row 0
    EXPECT_EQ(view.lineText(63), QString());  // asked before the next sync: no such row now
    view.sync(log);
    EXPECT_EQ(std::tuple(view.rowCount(), view.lineText(0), view.selectedRow(), view.lineText(view.selectedRow())),
              std::tuple(62, QStringLiteral("--- 4 older lines dropped ---"), 7, QStringLiteral("10")));
}

// COM1 is a symbolic link to a pseudo-terminal, as /dev/serial/by-id/... is to a USB adapter.
TEST(UnplugTest, unplugUnderThePortSettingsDialogThenOkShowsTheRealState) {
    auto pty = std::make_unique<PtyPair>();
    if (!pty->ok()) GTEST_SKIP() << "no pseudo-terminal available";
    QTemporaryDir dir;
    const QString path = dir.filePath("com1");
    ASSERT_TRUE(QFile::link(pty->slavePath(), path));
    ModalWatcher watcher;
    CShutterPanelDlg dlg(onCom1(path));
    dlg.startUp(), dlg.show();
    ASSERT_EQ(pty->receive(1).toHex(), "ee");
    ASSERT_TRUE(pty->send("\xEE"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return com1Status(dlg) == "Ready for Veltra"; }, kWaitMs));

    PtyPair back;
    QStringList whileBoxUp;  // COM1's field and tooltip: the box comes after the field says so
    watcher.onBox = [&] { whileBoxUp << com1Status(dlg) << dlg.control(ctl::kStatusCom1)->toolTip(); };
    watcher.dialogs.append([&](QDialog* d) {
        ASSERT_NE(qobject_cast<CPortSettingsDlg*>(d), nullptr);
        pty->closeMaster();  // unplugged under the dialog: one box, answered by the watcher
        ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.boxes.size() == 1; }, kWaitMs));
        QFile::remove(path);  // plugged back: another device at the same path
        ASSERT_TRUE(QFile::link(back.slavePath(), path));
        d->accept();
    });
    dlg.control<QPushButton>(ctl::kConfigurateCom1)->click();
    ASSERT_EQ(std::pair(watcher.dialogs.size(), watcher.boxes.size()), std::pair(qsizetype(0), std::size_t(1)));
    EXPECT_EQ(whileBoxUp, (QStringList{"Disconnected", "Reconnecting\u2026"}));
    EXPECT_TRUE(watcher.boxes[0].text.endsWith("The device has been disconnected.\nPort: 1\n"))
        << watcher.boxes[0].text.toStdString();
    QCoreApplication::processEvents();
    EXPECT_EQ(std::tuple(dlg.ports().link(1).isOpen(), com1Status(dlg), dlg.control(ctl::kStatusCom1)->isEnabled()),
              std::tuple(true, QStringLiteral("Connected"), true));
    EXPECT_EQ(back.receive(1).toHex(), "ee");  // Online, as on any opening
    dlg.control<QPushButton>(ctl::kStatus)->click();  // and it answers
    EXPECT_EQ(back.receive(1).toHex(), "cc");
}

// veltra-sim with --link: the controller goes away and another comes back at the same path.
class SimLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PtyPair().ok()) GTEST_SKIP() << "no pseudo-terminal available";
        link = dir.filePath("com1");
    }
    void TearDown() override {
        dlg.reset();
        for (auto& s : sims) s->terminate(), s->waitForFinished(5000);
    }
    QProcess& startSim(const QStringList& extra = {}) {
        QProcess& sim = *sims.emplace_back(std::make_unique<QProcess>());
        sim.start(VELTRA_SIM_PATH, QStringList{"--link", link} + extra);
        EXPECT_TRUE(QTest::qWaitFor([&] { return sim.canReadLine(); }, kWaitMs));
        return sim;
    }
    // `traffic`, if given, logs the new panel's ports from its start-up on.
    void openPanel(TrafficLog* traffic = nullptr) {
        dlg = std::make_unique<CShutterPanelDlg>(onCom1(link));
        if (traffic) traffic->attach(dlg->ports());
        dlg->startUp(), dlg->show();
        ASSERT_TRUE(QTest::qWaitFor([this] { return state().ports[0].status == "Ready for Veltra"; }, kWaitMs));
        // and the status read on becoming ready has come in
        ASSERT_TRUE(QTest::qWaitFor([this] { return state().log.size() >= 21 && !dlg->panel().decoder().statusReplyInProgress(); }, kWaitMs));
    }
    PanelState& state() { return dlg->state(); }

    QTemporaryDir dir;
    QString link;
    std::vector<std::unique_ptr<QProcess>> sims;
    ModalWatcher watcher;
    std::unique_ptr<CShutterPanelDlg> dlg;
};

// Apply on a slow line, the controller unplugged after three steps, another
// one back at the same path: ready again within two seconds without a box,
// none of the old download reaches it, and Status decodes its settings. (The
// link's events for a traffic log: the link's own hang-up test.)
TEST_F(SimLinkTest, applyCutByAnUnplug_theControllerBackAtTheSamePathIsReadySoonAndGetsNothingOfIt) {
    QProcess& first = startSim({"--pace-baud", "600"});
    ASSERT_NO_FATAL_FAILURE(openPanel());
    const std::size_t before = state().log.size();
    dlg->act([&](PanelState& s) { s.repeatText = "3", s.runningOption = 2, dlg->panel().onApply(s); });
    // Position and mode answered with two bytes each: the trigger step, the third, has gone out.
    ASSERT_TRUE(QTest::qWaitFor([&] { return state().log.size() >= before + 4; }, kWaitMs));
    first.kill();
    ASSERT_TRUE(first.waitForFinished(kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([this] { return state().ports[0].status == "Disconnected"; }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !dlg->panel().decoder().applyInProgress(); }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.boxes.size() == 1; }, kWaitMs));  // the unplug itself
    bool stopLine = false;
    for (std::size_t i = before; i < state().log.size(); ++i) stopLine |= state().log.line(i) == "Apply stopped: COM1 closed";
    EXPECT_TRUE(stopLine);

    const std::size_t lines = state().log.size();
    QDeadlineTimer twoSeconds(2000);
    QProcess& second = startSim({"--verbose"});  // what it receives, on standard error
    ASSERT_TRUE(QTest::qWaitFor([this] { return state().ports[0].status == "Ready for Veltra"; }, kWaitMs));
    EXPECT_FALSE(twoSeconds.hasExpired());
    EXPECT_EQ(std::pair(state().ports[0].tooltip, state().ports[0].enabled), std::pair(std::string(), true));
    EXPECT_EQ(std::tuple(watcher.boxes.size(), dlg->panel().activePort()), std::tuple(1ul, 1));  // no box for the failed tries

    // Ready again, the panel reads the new controller's status by itself.
    ASSERT_TRUE(QTest::qWaitFor([&] { return state().log.size() >= lines + 21 && state().repeatText == "1"; }, kWaitMs));
    // The echo of the Online byte sent on reconnecting; the new controller's factory settings, decoded.
    EXPECT_EQ(std::tuple(state().log.line(lines), state().shutterMode), std::tuple("238       0xEE", 0));
    second.terminate();
    ASSERT_TRUE(second.waitForFinished(kWaitMs));
    QStringList received;
    for (const QByteArray& l : second.readAllStandardError().split('\n'))
        if (const qsizetype at = l.indexOf("] rx "); at >= 0) received << QString::fromLatin1(l.mid(at + 5));
    EXPECT_EQ(received, (QStringList{"EE", "CC"}));
}

// A traffic log is appended to, and every line is on disk while it is open.
TEST_F(SimLinkTest, trafficLogHoldsEveryByteBothWaysInOrderWithRisingTimes) {
    startSim();
    const QString logPath = dir.filePath("traffic.log");
    QFile file(logPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("earlier\n"), file.close();
    TrafficLog traffic;
    ASSERT_TRUE(traffic.open(logPath, nullptr));
    ASSERT_NO_FATAL_FAILURE(openPanel(&traffic));
    ShutterPanel& p = dlg->panel();  // the status was read on becoming ready
    dlg->act([&](PanelState& s) { s.repeatText = "2", p.onApply(s); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !p.decoder().applyInProgress(); }, kWaitMs));

    // What the panel logged, byte by byte, is what the traffic log says came in.
    QByteArray decoded, rx;
    for (std::size_t i = 0; i < state().log.size(); ++i)
        if (const std::string_view l = state().log.line(i); l.size() > 4 && l.substr(l.size() - 4, 2) == "0x")
            decoded.append(char(std::stoi(std::string(l.substr(l.size() - 2)), nullptr, 16)));
    QList<QByteArray> writes, events;
    QDateTime last;
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray all = file.readAll();
    ASSERT_TRUE(all.startsWith("earlier\n"));
    for (const QByteArray& line : all.mid(8).trimmed().split('\n')) {
        SCOPED_TRACE(line.toStdString());
        const QList<QByteArray> f = line.split(' ');
        ASSERT_GE(f.size(), 5);
        if (f[1] == "--" && f[2] != "COM1") continue;  // COM2 to COM4 did not open
        const QDateTime at = QDateTime::fromString(QString::fromLatin1(f[0]), "yyyy-MM-ddTHH:mm:ss.zzz");
        EXPECT_TRUE(at.isValid() && (!last.isValid() || at >= last));
        last = at;
        EXPECT_EQ(std::pair(f[2], f[3]), std::pair(QByteArray("COM1"), link.toUtf8()));
        const QByteArray bytes = QByteArray::fromHex(f.mid(4).join());
        EXPECT_TRUE(f[1] == "TX" || f[1] == "RX" || f[1] == "--");
        f[1] == "--" ? events.append(f.mid(4).join(' ')) : f[1] == "TX" ? writes.append(bytes) : void(rx += bytes);
    }
    EXPECT_EQ(events, QList<QByteArray>{"opened 9600 8N1"});
    EXPECT_EQ(rx.toHex(' '), decoded.toHex(' '));
    ASSERT_GE(writes.size(), 3);
    EXPECT_EQ(writes.mid(0, 2), (QList<QByteArray>{"\xEE", "\xCC"}));  // Online at start-up, Status when ready
    // Every command of the download went out whole, and its echo came back in order.
    qsizetype at = -1;
    for (qsizetype i = 2; i < writes.size(); ++i) {
        at = rx.indexOf(writes[i], at + 1);
        EXPECT_GE(at, 0) << i;
    }
}

}  // namespace
}  // namespace veltra::test
