// Network ports end to end: veltra-sim behind a real ser2net on a loopback
// port, in each form; a refused port and a listener that never accepts.
// Every connection stays on 127.0.0.1.

#include "client/veltra_client.h"
#include "gui/cshutterpaneldlg.h"
#include "gui/modal_watcher.h"
#include "gui/panel_controls.h"
#include "serial/ccomportlink.h"
#include "support/qt_print.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace veltra::test {
namespace {

constexpr int kWaitMs = 10000;

quint16 freePort() {
    QTcpServer s;
    return s.listen(QHostAddress::LocalHost, 0) ? s.serverPort() : 0;
}

bool listening(quint16 port) {
    QFile f("/proc/net/tcp");
    const QByteArray entry = "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0') + " 00000000:0000 0A";
    return f.open(QIODevice::ReadOnly) && f.readAll().contains(entry);
}

// veltra-sim on a pseudo-terminal (at `pty`, a link that follows it), and
// ser2net in front of it in one form at a time.
class Ser2netTest : public ::testing::Test {
protected:
    void SetUp() override {
        server = QStandardPaths::findExecutable("ser2net");
        if (server.isEmpty()) server = QStandardPaths::findExecutable("ser2net", {"/usr/sbin", "/sbin", "/usr/local/sbin"});
        if (server.isEmpty()) GTEST_SKIP() << "ser2net is not installed";
        pty = dir.filePath("pty");
        sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim.start(VELTRA_SIM_PATH, {"--link", pty});
        ASSERT_TRUE(QTest::qWaitFor([&] { return sim.canReadLine(); }, kWaitMs));
    }
    void TearDown() override {
        stopServer();
        sim.terminate(), sim.waitForFinished(kWaitMs);
    }
    // The URL ser2net serves, or empty (and the test skipped) where it cannot start.
    QString startServer(bool rfc2217) {
        if (port == 0) port = freePort();
        QFile cfg(dir.filePath("ser2net.yaml"));
        cfg.open(QIODevice::WriteOnly | QIODevice::Truncate);
        cfg.write(QString("connection: &veltra\n  accepter: %1tcp,127.0.0.1,%2\n  connector: serialdev,%3,9600n81,local\n")
                      .arg(rfc2217 ? "telnet(rfc2217)," : "").arg(port).arg(pty).toUtf8());
        cfg.close();
        server_.start(server, {"-n", "-c", cfg.fileName(), "-P", dir.filePath("ser2net.pid")});
        if (!QTest::qWaitFor([&] { return listening(port) || server_.state() == QProcess::NotRunning; }, kWaitMs) ||
            !listening(port)) {
            skipReason = "ser2net did not start: " + server_.readAllStandardError().toStdString();
            return {};
        }
        return QString("%1://127.0.0.1:%2").arg(rfc2217 ? "rfc2217" : "socket").arg(port);
    }
    void stopServer() {
        if (server_.state() != QProcess::NotRunning) server_.terminate(), server_.waitForFinished(kWaitMs);
    }

    QTemporaryDir dir;
    QString server, pty;
    QProcess sim, server_;
    quint16 port = 0;
    std::string skipReason;
};

#define START_SERVER(url, rfc2217)                              \
    const QString url = startServer(rfc2217);                   \
    if (url.isEmpty()) GTEST_SKIP() << skipReason

// The same calls through the pseudo-terminal and through each form: the same
// bytes each way, 0xFF included (a continuous repeat count, its echo and the
// status reply that carries it).
TEST_F(Ser2netTest, statusRepeatAndApply_throughEachForm_carryTheBytesOfTheLocalDevice) {
    const auto run = [&](const QString& device) {
        QByteArray sent, received;
        Client c(ClientOptions{device, 9600, 2000, false});
        c.setTrafficHandler([&](bool tx, const std::uint8_t* b, std::size_t n) {
            (tx ? sent : received).append(reinterpret_cast<const char*>(b), qsizetype(n));
        });
        c.repeat(kContinuousText);
        c.apply(c.status());
        return std::pair(sent.toHex(' ').toStdString(), received.toHex(' ').toStdString());
    };
    const auto local = run(pty);
    EXPECT_NE(local.first.find("fa f0 ff ff"), std::string::npos) << local.first << "\n" << local.second;
    EXPECT_NE(local.second.find("f0 ff ff 00"), std::string::npos);  // the status reply's repeat count
    for (const bool rfc2217 : {false, true}) {
        START_SERVER(url, rfc2217);
        EXPECT_EQ(run(url), local) << url.toStdString();
        stopServer();
    }
}

TEST_F(Ser2netTest, rfc2217_lineSettingsReachThePseudoTerminal_alsoWhenReopenedInPlace) {
    START_SERVER(url, true);
    CComPortLink link;
    link.setDeviceName(url);
    link.setWaitForConnection(true);
    QStringList errors;
    link.setErrorReporter([&](const QString& text) { errors << text; });
    ASSERT_TRUE(link.OpenLink(1, 19200, 'E', 7, 2, kPanelEventMask, 64)) << link.lastOpenError().toStdString();
    const auto line = [&] {
        termios t{};
        const int fd = ::open(QFile::encodeName(pty).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        ::tcgetattr(fd, &t), ::close(fd);
        return std::pair(cfgetospeed(&t), t.c_cflag & CSTOPB);  // a pseudo-terminal keeps no parity nor data size
    };
    EXPECT_EQ(line(), std::pair(speed_t(B19200), tcflag_t(CSTOPB)));
    EXPECT_EQ(link.GetLineSettings(), (PortSettings{19200, 7, kParityEven, kStopBitsTwo, 1}));
    ASSERT_TRUE(link.OpenLink(1, 4800, 'N', 8, 1, kPanelEventMask, 64));
    EXPECT_TRUE(QTest::qWaitFor([&] { return line() == std::pair(speed_t(B4800), tcflag_t(0)); }, kWaitMs));
    EXPECT_TRUE(errors.isEmpty()) << errors.join("\n").toStdString();
}

// A baud rate with a 0xFF byte goes out escaped once: ser2net sets the
// pseudo-terminal to it, or answers the one it put instead, never a rate
// that was never asked.
TEST_F(Ser2netTest, rfc2217_aBaudRateWith0xFF_isTheOneTheServerSees) {
    START_SERVER(url, true);
    CComPortLink link;
    link.setDeviceName(url);
    link.setWaitForConnection(true);
    QStringList told;
    link.setLineHandler([&](int, const QString& text) { told << text; });
    ASSERT_TRUE(link.OpenLink(1, 65535, 'N', 8, 1, kPanelEventMask, 64)) << link.lastOpenError().toStdString();
    const auto line = link.deviceLine();
    ASSERT_TRUE(line.has_value());
    if (told.isEmpty()) {
        EXPECT_EQ(line->baudRate, 65535u);
    } else {
        ASSERT_EQ(told.size(), 1) << told.join("\n").toStdString();
        EXPECT_EQ(told[0], QString("The server set %1 baud instead of 65535 baud.").arg(line->baudRate));
        EXPECT_NE(line->baudRate, 0u);
    }
    // Whatever the rate, the line carries the controller's answers.
    std::vector<int> received;
    link.setByteHandler([&](int byte, int) { received.push_back(byte); });
    ASSERT_TRUE(link.StartMonitor());
    const quint8 online = 0xEE;
    ASSERT_TRUE(link.QueueWrite(&online, 1));
    EXPECT_TRUE(QTest::qWaitFor([&] { return received == std::vector<int>{0xEE}; }, kWaitMs));
}

// The panel on rfc2217://: ready; the server stopped: disconnected with the
// loss's one box; started again: ready within two seconds, no box for the tries.
TEST_F(Ser2netTest, panelOnRfc2217_serverStoppedAndStartedAgain_isReadyAgainByItself) {
    START_SERVER(url, true);
    ModalWatcher watcher;
    CShutterPanelDlg dlg(PanelOptions{{url, "/nonexistent/com2", "/nonexistent/com3", "/nonexistent/com4"}, nullptr});
    dlg.startUp(), dlg.show();
    const auto status = [&] { return dlg.state().ports[0].status; };
    ASSERT_TRUE(QTest::qWaitFor([&] { return status() == "Ready for Veltra"; }, kWaitMs));
    EXPECT_EQ(dlg.control(ctl::kStatusCom1)->toolTip(), "COM1: " + url);
    stopServer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return status() == "Disconnected"; }, kWaitMs));
    EXPECT_EQ(dlg.state().ports[0].tooltip, "Reconnecting\u2026");
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.boxes.size() == 1; }, kWaitMs));  // right after the field says so
    EXPECT_TRUE(watcher.boxes[0].text.contains("The server closed the connection.")) << watcher.boxes[0].text.toStdString();
    const QDeadlineTimer twoSeconds(2000);
    ASSERT_EQ(startServer(true), url);
    ASSERT_TRUE(QTest::qWaitFor([&] { return status() == "Ready for Veltra"; }, kWaitMs));
    EXPECT_FALSE(twoSeconds.hasExpired());
    EXPECT_EQ(watcher.boxes.size(), 1u);
}

// Counts the message boxes that come up (nested ones too) and how many are up
// at once; answers them when `mayAnswer` says so, and at once when more than
// one is up, so a storm of boxes fails the test rather than hangs it.
class BoxCounter : public QObject {
public:
    int total = 0, most = 0;
    QStringList texts;
    std::function<bool()> mayAnswer = [] { return true; };  // asked while a box is up
    BoxCounter() { startTimer(10); }

private:
    void timerEvent(QTimerEvent*) override {
        QList<QMessageBox*> up;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) up << box;
        for (QMessageBox* box : up)
            if (!box->property("counted").toBool()) box->setProperty("counted", true), ++total, texts << box->text();
        most = std::max(most, int(up.size()));
        if (up.size() > 1 || (!up.isEmpty() && mayAnswer()))
            for (QMessageBox* box : up) box->done(QMessageBox::Ok);
    }
};

// A loopback server that accepts every connection and closes it `upMs` later
// (-1: when the server goes); `echo`: it answers Online as a controller does.
struct ClosingServer {
    QTcpServer server;
    int accepted = 0;
    ClosingServer(int upMs, bool echo, quint16 port = 0) {
        server.listen(QHostAddress::LocalHost, port);
        QObject::connect(&server, &QTcpServer::newConnection, [this, upMs, echo] {
            while (QTcpSocket* peer = server.nextPendingConnection()) {
                ++accepted;
                if (echo)
                    QObject::connect(peer, &QTcpSocket::readyRead, peer, [peer] { peer->write(peer->readAll()); });
                if (upMs >= 0) QTimer::singleShot(upMs, peer, [peer] { peer->close(), peer->deleteLater(); });
            }
        });
    }
    ~ClosingServer() {
        for (QTcpSocket* peer : server.findChildren<QTcpSocket*>()) peer->close();  // as a server that stops
    }
    QString url() const { return QString("socket://127.0.0.1:%1").arg(server.serverPort()); }
};

// A server that accepts, stays up 300 ms and closes, again and again: the
// first loss is told in one box; the reconnects that follow, each lost
// again, open none, neither while that box is up (two more rounds) nor after
// it; the status field and the traffic log's events tell each.
TEST(NetworkFailureTest, aServerThatKeepsClosing_isToldInOneBoxAndTheRetriesOpenNone) {
    ClosingServer server(300, false);
    ASSERT_TRUE(server.server.isListening());
    int atBox = -1;  // connections made when the box came up
    BoxCounter boxes;
    boxes.mayAnswer = [&] {
        if (atBox < 0) atBox = server.accepted;
        return server.accepted >= atBox + 2;
    };
    CShutterPanelDlg dlg(PanelOptions{{server.url(), "/nonexistent/com2", "/nonexistent/com3", "/nonexistent/com4"}, nullptr});
    QStringList events;
    dlg.ports().setEventHandler([&](int port, const QString& text) { if (port == 1) events << text; });
    dlg.startUp(), dlg.show();
    // The waits below run inside the box's own loop until it is answered.
    EXPECT_TRUE(QTest::qWaitFor([&] { return atBox >= 0 && server.accepted >= atBox + 4; }, 3 * kWaitMs));
    EXPECT_EQ(std::pair(boxes.total, boxes.most), std::pair(1, 1)) << boxes.texts.join("\n").toStdString();
    EXPECT_TRUE(boxes.texts.value(0).contains("The server closed the connection.")) << boxes.texts.value(0).toStdString();
    EXPECT_GE(events.count("closed: The server closed the connection."), server.accepted - 1) << events.join("\n").toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.state().ports[0].tooltip == "Reconnecting\u2026"; }, kWaitMs));
}

// The same server where staying open 100 ms counts as steady: each loss is
// a new failure and told, one box at a time.
TEST(NetworkFailureTest, aLossAfterTheConnectionHasBeenSteady_isToldAgain) {
    ClosingServer server(300, false);
    BoxCounter boxes;
    PanelOptions options{{server.url(), "/nonexistent/com2", "/nonexistent/com3", "/nonexistent/com4"}, nullptr};
    options.steadyMs = 100;
    CShutterPanelDlg dlg(options);
    dlg.startUp(), dlg.show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return boxes.total >= 3; }, 3 * kWaitMs));
    EXPECT_EQ(boxes.most, 1);
}

// ser2net stopped under a ready port and started again while the loss's box
// is still up: the port is ready again, and closing that old box leaves the
// new connection alone (no second box, still ready, still open).
TEST(NetworkFailureTest, aLossesBoxClosedAfterTheReconnect_leavesTheNewConnectionAlone) {
    auto server = std::make_unique<ClosingServer>(-1, true);
    const quint16 port = server->server.serverPort();
    ModalWatcher watcher;
    CShutterPanelDlg dlg(PanelOptions{{server->url(), "/nonexistent/com2", "/nonexistent/com3", "/nonexistent/com4"}, nullptr});
    const auto status = [&] { return dlg.state().ports[0].status; };
    bool readyUnderTheBox = false;
    watcher.onBox = [&] {
        if (watcher.boxes.size() != 1) return;
        server = std::make_unique<ClosingServer>(-1, true, port);
        readyUnderTheBox = QTest::qWaitFor([&] { return status() == "Ready for Veltra"; }, kWaitMs);
    };
    dlg.startUp(), dlg.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return status() == "Ready for Veltra"; }, kWaitMs));
    server.reset();  // the server and its connection go
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.boxes.size() == 1 && !QApplication::activeModalWidget(); }, kWaitMs));
    EXPECT_TRUE(readyUnderTheBox);
    EXPECT_FALSE(QTest::qWaitFor([&] { return status() != "Ready for Veltra" || watcher.boxes.size() > 1; }, 1500));
    EXPECT_TRUE(dlg.ports().link(1).isOpen());
    EXPECT_EQ(server->accepted, 1);
}

// A refused port and a listener whose accept backlog is full (the kernel
// drops the attempts): start-up returns at once, the first says so at once,
// the second gives up after the connect timeout; neither shows a box.
TEST(NetworkFailureTest, refusedAndNeverAnswered_eachTheirReasonWithoutFreezingThePanel) {
    const int full = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET, a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(full, reinterpret_cast<sockaddr*>(&a), len), 0);
    ASSERT_EQ(::listen(full, 0), 0);
    ::getsockname(full, reinterpret_cast<sockaddr*>(&a), &len);
    QTcpSocket filler;  // takes the one place in the queue
    filler.connectToHost(QHostAddress::LocalHost, ntohs(a.sin_port));
    ASSERT_TRUE(filler.waitForConnected(kWaitMs));

    ModalWatcher watcher;
    const QString never = QString("socket://127.0.0.1:%1").arg(ntohs(a.sin_port));
    const QString refused = QString("rfc2217://127.0.0.1:%1").arg(freePort());
    CShutterPanelDlg dlg(PanelOptions{{never, refused, "/nonexistent/com3", "/nonexistent/com4"}, nullptr});
    const QDeadlineTimer soon(1000);
    dlg.startUp(), dlg.show();
    EXPECT_FALSE(soon.hasExpired());
    const auto tip = [&](int i) { return QString::fromStdString(dlg.state().ports[std::size_t(i)].tooltip); };
    EXPECT_EQ(tip(0), "COM1 (" + never + "): connecting\u2026");
    ASSERT_TRUE(QTest::qWaitFor([&] { return tip(1).contains("refused"); }, kWaitMs)) << tip(1).toStdString();
    EXPECT_EQ(tip(1), "COM2 (" + refused + "): connection refused (nothing listens at that port)");
    EXPECT_TRUE(tip(0).endsWith("connecting\u2026"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tip(0).endsWith("connecting\u2026"); }, kWaitMs));
    EXPECT_EQ(tip(0), "COM1 (" + never + "): timed out after 5 s (the server does not answer)");
    EXPECT_EQ(dlg.state().ports[0].status, "Disconnected");
    EXPECT_TRUE(watcher.boxes.empty());
    ::close(full);
}

// A server that sends COM-PORT-OPTION toggles (IAC DO 44, IAC DONT 44) as
// fast as it can and never reads what comes back; one connection at a time.
class FloodServer {
public:
    FloodServer() {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET, a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&a), len) == 0 && ::listen(m_listener, 4) == 0 &&
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~FloodServer() {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }
    quint16 port = 0;
    std::atomic<long long> sent{0};

private:
    // Each wait is short, so the destructor is never held up for long.
    bool ready(int fd, short events) {
        pollfd p{fd, events, 0};
        return ::poll(&p, 1, 50) == 1;
    }
    void run() {
        QByteArray toggles;
        for (int i = 0; i < 4096; ++i) toggles += QByteArray::fromHex("fffd2c fffe2c");
        while (!m_stop) {
            if (!ready(m_listener, POLLIN)) continue;
            const int peer = ::accept(m_listener, nullptr, nullptr);
            while (!m_stop && peer >= 0) {
                if (!ready(peer, POLLOUT)) continue;
                const ssize_t n = ::send(peer, toggles.constData(), size_t(toggles.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n < 0 && errno != EAGAIN) break;
                if (n > 0) sent += n;
            }
            if (peer >= 0) ::close(peer);
        }
    }
    int m_listener = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

long residentKiB(qint64 pid) {
    QFile f(QString("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

// Every answer to the flood would wait in the socket for a server that never
// takes it: veltractl and the panel give the connection up past a limit and
// stay small; veltractl says why.
TEST(NetworkFloodTest, toggleFloodFromAServerThatNeverReads_keepsEachProgramSmall) {
    // The sanitizers' shadow memory and quarantine come on top of what a program holds.
#if defined(__SANITIZE_ADDRESS__)
    constexpr long kBoundKiB = 256 * 1024;
#else
    constexpr long kBoundKiB = 64 * 1024;
#endif
    FloodServer flood;
    ASSERT_NE(flood.port, 0);
    const QString url = QString("rfc2217://127.0.0.1:%1").arg(flood.port);
    struct Row { const char* program; QStringList args; };
    const Row rows[] = {
        {VELTRACTL_PATH, {"--device", url, "monitor", "--duration", "3"}},
        {VELTRA_UTILITY_PATH, {"--port", "1=" + url, "--port", "2=/nonexistent/com2", "--port", "3=/nonexistent/com3",
                               "--port", "4=/nonexistent/com4"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.program);
        const long long sentBefore = flood.sent;
        QProcess p;
        p.start(row.program, row.args);
        ASSERT_TRUE(p.waitForStarted(kWaitMs));
        long peak = 0;
        const QDeadlineTimer watched(3000);
        EXPECT_TRUE(QTest::qWaitFor([&] {
            peak = std::max(peak, residentKiB(p.processId()));
            return p.state() == QProcess::NotRunning || watched.hasExpired();
        }, 5000));
        if (p.state() != QProcess::NotRunning) {
            p.terminate();
            ASSERT_TRUE(p.waitForFinished(kWaitMs));
        }
        EXPECT_LT(peak, kBoundKiB) << "KiB";
        EXPECT_GT(flood.sent - sentBefore, 2 << 20) << "the flood did not reach the program";
        if (row.program == std::string(VELTRACTL_PATH)) {
            EXPECT_EQ(p.exitCode(), 3);
            EXPECT_TRUE(p.readAllStandardError().contains("The server does not read what is sent to it"));
        }
    }
}

}  // namespace
}  // namespace veltra::test
