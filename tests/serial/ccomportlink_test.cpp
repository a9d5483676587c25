#include "serial/ccomportlink.h"
#include "serial/device_node.h"
#include "serial/pty_pair.h"
#include "support/qt_print.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <numeric>

namespace veltra {
namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

// A link over a fresh pseudo-terminal, recording what it hands over and reports.
class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_pty.ok())
            GTEST_SKIP() << "no pseudo-terminal available";
        m_link.setDeviceName(m_pty.slavePath());
        m_link.setByteHandler([this](int byte, int port) {
            m_received.append(static_cast<char>(byte));
            m_stray += byte < 0 || byte > 255 || port != m_port;
        });
        m_link.setErrorReporter([this](const QString& text) { m_reports << text; });
        m_link.setClosedHandler(
            [this](int port, const QString&) { m_reports << QStringLiteral("closed %1").arg(port); });
    }
    // A test takes out the reports it expects; no other may come.
    void TearDown() override {
        EXPECT_EQ(m_stray, 0);
        EXPECT_TRUE(m_reports.isEmpty()) << m_reports.join(u'|').toStdString();
    }
    bool open(int port = 1, int sendBuffer = 512) {
        m_port = port;
        return m_link.OpenLink(port, 9600, 'N', 8, 1, kPanelEventMask, sendBuffer) && m_link.StartMonitor();
    }
    bool queue(const QByteArray& b) {
        return m_link.QueueWrite(reinterpret_cast<const quint8*>(b.constData()), static_cast<int>(b.size()));
    }
    bool waitForReceived(qsizetype n) { return QTest::qWaitFor([&] { return m_received.size() >= n; }, 3000); }

    test::PtyPair m_pty;
    CComPortLink m_link;
    QByteArray m_received;
    QStringList m_reports;
    int m_port = 1, m_stray = 0;  // m_stray: byte calls outside 0..255 or with the wrong port number
};

TEST_F(LinkTest, everyByteValueArrivesInOrderWithThePortNumberAlsoAfterAReopen) {
    ASSERT_TRUE(open(3));
    QByteArray all(256, 0);
    std::iota(all.begin(), all.end(), 0);
    ASSERT_TRUE(m_pty.send(all) && waitForReceived(256));
    ASSERT_TRUE(open(3));  // while open and monitored
    ASSERT_TRUE(m_pty.send(hex("5a")) && waitForReceived(257));
    EXPECT_EQ(m_received.toHex(), all.toHex() + "5a");
}

TEST_F(LinkTest, writesDropUnreadInputButNotTheRestOfTheBatchBeingHandedOver) {
    ASSERT_TRUE(open(2, 6));
    ASSERT_TRUE(m_pty.send(hex("11 22")));
    ASSERT_TRUE(m_pty.slaveHasInput(3000));  // unread: no event has run yet
    EXPECT_FALSE(queue(hex("01 02 03 04 05 06 07")));  // longer than the send buffer
    ASSERT_EQ(m_reports.size(), 1);
    EXPECT_TRUE(m_reports.takeFirst().startsWith(QStringLiteral("WARNING:  QueueWrite() Failed")));
    for (const char* command : {"fa 10 00 01 86 a0", "cc", "fa a1", "ee"})
        ASSERT_TRUE(queue(hex(command)));
    EXPECT_EQ(m_pty.receive(10).toHex(' '), QByteArray("fa 10 00 01 86 a0 cc fa a1 ee"));
    m_link.setByteHandler([this](int byte, int) {
        m_received.append(static_cast<char>(byte));
        EXPECT_TRUE(byte != 1 || queue(hex("cc")));  // purging now would lose 02 and 03
    });
    ASSERT_TRUE(m_pty.send(hex("01 02 03")) && waitForReceived(3));
    EXPECT_EQ(m_received.toHex(), "010203");  // 11 22 went with the first write
    EXPECT_EQ(m_pty.receive(1).toHex(), "cc");
}

TEST_F(LinkTest, aDeviceThatTakesNothingForAWhileIsNoDisconnection) {
    ASSERT_TRUE(open(1, 512));
    QByteArray all;  // far more than the line holds while nobody reads it
    for (int i = 0; i < 200; ++i) {
        all += QByteArray(500, static_cast<char>('a' + i % 26));
        ASSERT_TRUE(queue(all.right(500))) << "write " << i;
    }
    EXPECT_TRUE(m_pty.receive(static_cast<int>(all.size()), 10000) == all);
}

// A missing device fails without a report too: the hang-up test's last OpenLink.
TEST_F(LinkTest, closedLinkRefusesAndOpenFailsWithoutReportWhenInUse) {
    EXPECT_FALSE(m_link.StartMonitor());
    EXPECT_FALSE(queue(hex("cc")));
    ASSERT_TRUE(open());
    EXPECT_TRUE(QFile::exists(deviceLockFile(m_pty.slavePath())));  // found where the serial library put it
    CComPortLink second;
    second.setErrorReporter([this](const QString& text) { m_reports << text; });
    // The same device by another name (even to root, whom the exclusive open does not stop).
    QTemporaryDir dir;
    const QString alias = dir.filePath("link");
    ASSERT_TRUE(QFile::link(m_pty.slavePath(), alias));
    for (const QString& name : {m_pty.slavePath(), alias}) {
        second.setDeviceName(name);
        EXPECT_FALSE(second.OpenLink(2, 9600, 'N', 8, 1, kPanelEventMask, 512));
        EXPECT_EQ(second.lastOpenError(), QStringLiteral("already open as COM1 (%1)").arg(m_pty.slavePath()));
    }
}

TEST_F(LinkTest, hangUpReportsTheDisconnectionOnceReconnectsAtTheSamePathAndOpenLinkEndsTheRetries) {
    QTemporaryDir dir;
    const QString path = dir.filePath("com4");  // as /dev/serial/by-id/... names a USB adapter
    ASSERT_TRUE(QFile::link(m_pty.slavePath(), path));
    m_link.setDeviceName(path);
    m_port = 4;
    QStringList events;  // for a traffic log
    m_link.setEventHandler([&](int port, const QString& text) { events << QStringLiteral("%1 %2").arg(port).arg(text); });
    ASSERT_TRUE(m_link.OpenLink(4, 2400, 'N', 8, 2, kPanelEventMask, 512) && m_link.StartMonitor());
    int reconnected = 0;
    m_link.setReconnectedHandler([&](int port) { reconnected += port == 4 ? 1 : 100; });
    ASSERT_TRUE(m_pty.send(hex("cc aa")) && waitForReceived(2));
    m_pty.closeMaster();
    queue(hex("cc"));  // the failed write may be the first to notice
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_reports.size() >= 2; }, 3000));
    EXPECT_EQ(std::pair(m_link.isOpen(), m_link.isReconnecting()), std::pair(false, true));
    ASSERT_EQ(m_reports.size(), 2);  // one report, whichever call noticed, and nothing of the system's own text
    // The box names the call this platform made, not another platform's.
    const QString report = m_reports.takeFirst();
    EXPECT_TRUE(QRegularExpression("^WARNING:  (read|write)\\(\\) Failed with the following error: \n"
                                   "The device has been disconnected\\.\nPort: 4\n$").match(report).hasMatch())
        << report.toStdString();
    EXPECT_EQ(m_reports.takeFirst(), QStringLiteral("closed 4"));

    // Failed tries say nothing; the device back at the same path is reopened as it was.
    EXPECT_FALSE(QTest::qWaitFor([&] { return reconnected != 0; }, 1500));
    auto back = std::make_unique<test::PtyPair>();
    ASSERT_TRUE(back->ok() && QFile::remove(path) && QFile::link(back->slavePath(), path));
    ASSERT_TRUE(QTest::qWaitFor([&] { return reconnected != 0; }, 2000));  // within two seconds
    EXPECT_EQ(std::pair(reconnected, m_link.isReconnecting()), std::pair(1, false));
    const termios t = back->slaveTermios();
    EXPECT_EQ(std::pair(cfgetospeed(&t), t.c_cflag & CSTOPB), std::pair(speed_t{B2400}, tcflag_t{CSTOPB}));
    ASSERT_TRUE(back->send(hex("5a")) && waitForReceived(3));
    EXPECT_EQ(m_received.toHex(), "ccaa5a");
    EXPECT_TRUE(queue(hex("ee")));
    EXPECT_EQ(back->receive(1).toHex(), "ee");

    // Gone again: an OpenLink of the operator's own ends the retries, even one that fails.
    back.reset();
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_reports.size() >= 2; }, 3000));
    m_reports.clear();
    m_link.setDeviceName(QStringLiteral("/dev/veltra-no-such-port"));
    EXPECT_FALSE(m_link.OpenLink(4, 9600, 'N', 8, 1, kPanelEventMask, 512));
    EXPECT_FALSE(m_link.isReconnecting());
    // One line for the failed tries (the first; then one a minute), not one a second.
    ASSERT_EQ(events.size(), 6) << events.join('|').toStdString();
    EXPECT_TRUE(events[2].startsWith("4 reconnect try 1 failed: ")) << events[2].toStdString();
    events.removeAt(2);
    EXPECT_EQ(events, (QStringList{"4 opened 2400 8N2", "4 closed: The device has been disconnected.", "4 reconnected 2400 8N2",
                                   "4 closed: The device has been disconnected.", "4 open failed: does not exist"}));
}

TEST(ConvertDialogTexts, eachTextByItself) {
    struct Row { const char* texts[5]; PortSettingsRequest expected; };  // baud, parity, data, stop, buffer
    for (const Row& r : {Row{{"9600", "NONE", "8", "1", "512"}, {9600, 'N', 8, 1, 512}},
                         Row{{"300", "SPACE", "6", "1.5", "300abc"}, {300, 'S', 6, 1, 300}},
                         Row{{"1200", "MARK", "8", "1", "  -5"}, {1200, 'M', 8, 1, -5}},
                         Row{{"", "", "", "", ""}, {0, '\0', 0, 0, 0}}}) {
        const auto t = [&](int i) { return QString::fromUtf8(r.texts[i]); };
        EXPECT_EQ(convertDialogTexts(t(0), t(1), t(2), t(3), t(4)), r.expected) << r.texts[4];
    }
}

}  // namespace
}  // namespace veltra

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
