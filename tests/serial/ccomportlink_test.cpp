#include "serial/ccomportlink.h"
#include "serial/pty_pair.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace veltra {
namespace {

using test::PtyPair;

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(static_cast<char>(v));
    return b;
}

bool queue(CComPortLink& link, const QByteArray& b) {
    return link.QueueWrite(reinterpret_cast<const quint8*>(b.constData()),
                           static_cast<int>(b.size()));
}

// A link over a fresh pseudo-terminal with everything it hands over recorded.
class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_pty.ok())
            GTEST_SKIP() << "no pseudo-terminal available";
        watch(m_link);
        m_link.setDeviceName(m_pty.slavePath());
    }

    void watch(CComPortLink& link) {
        link.setByteHandler([this](int byte, int port) {
            m_received.append(static_cast<char>(byte));
            m_ports.push_back(port);
            m_events.push_back(byte);
        });
        link.setCtsHandler([this](int port) {
            m_ctsPorts.push_back(port);
            m_events.push_back(kCts);
        });
        link.setErrorReporter([this](const QString& text) { m_reports.push_back(text); });
        link.setClosedHandler([this](int port, const QString& reason) {
            m_closedPorts.push_back(port);
            m_closedReasons.push_back(reason);
        });
    }

    bool openAndMonitor(int port = 1, quint32 mask = kPanelEventMask, int sendBuffer = 512) {
        return m_link.OpenLink(port, 9600, 'N', 8, 1, mask, sendBuffer) && m_link.StartMonitor();
    }

    bool waitForReceived(qsizetype count, int timeoutMs = 3000) {
        return QTest::qWaitFor([&] { return m_received.size() >= count; }, timeoutMs);
    }

    // Runs the event loop until the link has taken every byte waiting for it.
    bool waitUntilInputTaken(int timeoutMs = 3000) {
        return QTest::qWaitFor([&] { return !m_pty.slaveHasInput(); }, timeoutMs);
    }

    static constexpr int kCts = -1;

    PtyPair m_pty;
    CComPortLink m_link;
    QByteArray m_received;
    std::vector<int> m_ports;
    std::vector<int> m_ctsPorts;
    std::vector<int> m_events;  // bytes and kCts, in the order handed over
    std::vector<QString> m_reports;
    std::vector<int> m_closedPorts;
    std::vector<QString> m_closedReasons;
};

TEST_F(LinkTest, everyByteValue_arrivesInOrderWithThePortNumber) {
    ASSERT_TRUE(openAndMonitor(3));
    QByteArray all;
    for (int v = 0; v < 256; ++v)
        all.append(static_cast<char>(v));
    ASSERT_TRUE(m_pty.send(all));
    ASSERT_TRUE(waitForReceived(256));
    EXPECT_EQ(m_received, all);
    EXPECT_EQ(m_ports, std::vector<int>(256, 3));
    EXPECT_TRUE(m_reports.empty());
}

TEST_F(LinkTest, byteHandler_getsZeroAndFfAsUnsignedValues) {
    ASSERT_TRUE(openAndMonitor(2));
    ASSERT_TRUE(m_pty.send(bytes({0xFF, 0x00})));
    ASSERT_TRUE(waitForReceived(2));
    EXPECT_EQ(m_events, (std::vector<int>{kCts, 255, 0}));
}

TEST_F(LinkTest, ctsMask_announcesEachBatchBeforeItsBytes) {
    ASSERT_TRUE(openAndMonitor(4, kPanelEventMask));
    ASSERT_TRUE(m_pty.send(bytes({0x01, 0x02})));
    ASSERT_TRUE(waitForReceived(2));
    ASSERT_TRUE(m_pty.send(bytes({0x03})));
    ASSERT_TRUE(waitForReceived(3));
    // Every batch starts with the announcement, and none comes without bytes.
    ASSERT_FALSE(m_events.empty());
    EXPECT_EQ(m_events.front(), kCts);
    EXPECT_NE(m_events.back(), kCts);
    for (std::size_t i = 1; i < m_events.size(); ++i)
        EXPECT_FALSE(m_events[i] == kCts && m_events[i - 1] == kCts) << i;
    EXPECT_GE(m_ctsPorts.size(), 2u);  // the two sends were separate batches
    EXPECT_EQ(m_ctsPorts, std::vector<int>(m_ctsPorts.size(), 4));
}

TEST_F(LinkTest, withoutCtsInTheMask_onlyBytesAreHandedOver) {
    ASSERT_TRUE(openAndMonitor(1, kEvRxChar));
    ASSERT_TRUE(m_pty.send(bytes({0x01, 0x02})));
    ASSERT_TRUE(waitForReceived(2));
    EXPECT_TRUE(m_ctsPorts.empty());
}

TEST_F(LinkTest, commandsQueuedBackToBack_allGoOutWholeAndInOrder) {
    ASSERT_TRUE(openAndMonitor());
    const std::vector<QByteArray> commands = {
        bytes({0xFA, 0x10, 0x00, 0x01, 0x86, 0xA0}), bytes({0xCC}), bytes({0xFA, 0xA1}),
        bytes({0xFA, 0xF0, 0x00, 0x05}),             bytes({0xEE}), bytes({0x0A, 0x0D})};
    QByteArray expected;
    for (const QByteArray& c : commands) {
        ASSERT_TRUE(queue(m_link, c));
        expected += c;
    }
    EXPECT_EQ(m_pty.receive(static_cast<int>(expected.size())), expected);
    EXPECT_TRUE(m_reports.empty());
}

TEST_F(LinkTest, write_dropsInputThatArrivedButWasNotHandedOver) {
    ASSERT_TRUE(openAndMonitor(1, kEvRxChar));
    ASSERT_TRUE(m_pty.send(bytes({0x11, 0x22, 0x33})));
    // The bytes wait in the port's queue; no event has let the link read them.
    ASSERT_TRUE(m_pty.slaveHasInput(3000));
    ASSERT_TRUE(queue(m_link, bytes({0xCC})));
    EXPECT_EQ(m_pty.receive(1), bytes({0xCC}));
    ASSERT_TRUE(m_pty.send(bytes({0x44})));
    ASSERT_TRUE(waitForReceived(1));
    EXPECT_EQ(m_received, bytes({0x44}));
}

TEST_F(LinkTest, writeFromTheByteHandler_goesOutAfterTheBytesAlreadyReceived) {
    ASSERT_TRUE(openAndMonitor(1, kEvRxChar));
    bool queued = false;
    m_link.setByteHandler([&](int byte, int) {
        m_received.append(static_cast<char>(byte));
        if (byte == 0x01)
            queued = queue(m_link, bytes({0xCC}));
    });
    // One write on the device side: the three bytes arrive as one batch.
    ASSERT_TRUE(m_pty.send(bytes({0x01, 0x02, 0x03})));
    ASSERT_TRUE(waitForReceived(3));
    EXPECT_TRUE(queued);
    EXPECT_EQ(m_received, bytes({0x01, 0x02, 0x03}));
    EXPECT_EQ(m_pty.receive(1), bytes({0xCC}));
}

TEST_F(LinkTest, nestedEventLoopInTheByteHandler_keepsOrderWithoutDuplicates) {
    ASSERT_TRUE(openAndMonitor(1, kEvRxChar));
    bool nestedTookInput = false;
    m_link.setByteHandler([&](int byte, int) {
        m_received.append(static_cast<char>(byte));
        if (byte == 0x01) {
            // As a message box would: more bytes come in while the handler runs.
            m_pty.send(bytes({0x10, 0x11}));
            m_pty.slaveHasInput(3000);
            nestedTookInput = waitUntilInputTaken();
        }
    });
    ASSERT_TRUE(m_pty.send(bytes({0x01, 0x02})));
    ASSERT_TRUE(waitForReceived(4));
    EXPECT_TRUE(nestedTookInput);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_received, bytes({0x01, 0x02, 0x10, 0x11}));
}

TEST_F(LinkTest, reopenOfAMonitoredLink_deliversAgainOnlyAfterStartMonitor) {
    ASSERT_TRUE(openAndMonitor(1, kEvRxChar));
    ASSERT_TRUE(m_pty.send(bytes({0x01})));
    ASSERT_TRUE(waitForReceived(1));

    ASSERT_TRUE(m_link.OpenLink(1, 19200, 'N', 8, 1, kEvRxChar, 512));
    EXPECT_TRUE(m_link.isOpen());
    EXPECT_FALSE(m_link.isMonitoring());
    ASSERT_TRUE(m_pty.send(bytes({0x02})));  // not monitored: never handed over
    ASSERT_TRUE(waitUntilInputTaken());
    ASSERT_TRUE(m_link.StartMonitor());
    ASSERT_TRUE(m_pty.send(bytes({0x03})));
    ASSERT_TRUE(waitForReceived(2));
    EXPECT_EQ(m_received, bytes({0x01, 0x03}));
    EXPECT_TRUE(m_reports.empty());
}

TEST_F(LinkTest, reopenFromTheByteHandler_dropsTheOldInputAndGoesOn) {
    ASSERT_TRUE(openAndMonitor(1, kEvRxChar));
    bool reopened = false;
    m_link.setByteHandler([&](int byte, int) {
        m_received.append(static_cast<char>(byte));
        if (byte == 0x01)
            reopened = m_link.OpenLink(1, 9600, 'N', 8, 1, kEvRxChar, 512) && m_link.StartMonitor();
    });
    ASSERT_TRUE(m_pty.send(bytes({0x01, 0x02})));
    ASSERT_TRUE(waitForReceived(1));
    ASSERT_TRUE(m_pty.send(bytes({0x03})));
    ASSERT_TRUE(waitForReceived(2));
    EXPECT_TRUE(reopened);
    EXPECT_EQ(m_received, bytes({0x01, 0x03}));
}

TEST_F(LinkTest, notMonitored_handsNothingOverAndStartMonitorDropsEarlierInput) {
    ASSERT_TRUE(m_link.OpenLink(1, 9600, 'N', 8, 1, kEvRxChar, 512));
    ASSERT_TRUE(m_pty.send(bytes({0x01})));
    ASSERT_TRUE(waitUntilInputTaken());
    QCoreApplication::processEvents();
    EXPECT_TRUE(m_received.isEmpty());
    ASSERT_TRUE(m_link.StartMonitor());
    ASSERT_TRUE(m_pty.send(bytes({0x02})));
    ASSERT_TRUE(waitForReceived(1));
    EXPECT_EQ(m_received, bytes({0x02}));
}

TEST_F(LinkTest, secondLinkOnTheSameDevice_failsAsInUseWithoutReport) {
    ASSERT_TRUE(openAndMonitor());
    CComPortLink second;
    watch(second);
    second.setDeviceName(m_pty.slavePath());
    EXPECT_FALSE(second.OpenLink(2, 9600, 'N', 8, 1, kPanelEventMask, 512));
    EXPECT_FALSE(second.isOpen());
    EXPECT_TRUE(second.lastOpenError().contains(QStringLiteral("another program")))
        << second.lastOpenError().toStdString();
    EXPECT_TRUE(m_reports.empty());
    // The first link is untouched.
    ASSERT_TRUE(m_pty.send(bytes({0x5A})));
    ASSERT_TRUE(waitForReceived(1));
}

TEST_F(LinkTest, destroyedLink_releasesTheDevice) {
    auto first = std::make_unique<CComPortLink>();
    first->setDeviceName(m_pty.slavePath());
    ASSERT_TRUE(first->OpenLink(1, 9600, 'N', 8, 1, kPanelEventMask, 512));
    ASSERT_TRUE(first->StartMonitor());
    first.reset();
    EXPECT_TRUE(m_link.OpenLink(1, 9600, 'N', 8, 1, kPanelEventMask, 512));
    EXPECT_TRUE(m_link.lastOpenError().isEmpty());
}

TEST_F(LinkTest, missingDevice_returnsFalseWithoutReport) {
    m_link.setDeviceName(QStringLiteral("/dev/veltra-no-such-port"));
    EXPECT_FALSE(m_link.OpenLink(1, 9600, 'N', 8, 1, kPanelEventMask, 512));
    EXPECT_FALSE(m_link.isOpen());
    EXPECT_TRUE(m_link.lastOpenError().contains(QStringLiteral("does not exist")))
        << m_link.lastOpenError().toStdString();
    EXPECT_TRUE(m_reports.empty());
    // The sizes are kept all the same.
    EXPECT_EQ(m_link.GetSendBufferSize(), 512);
    EXPECT_EQ(m_link.GetEventMask(), kPanelEventMask);
    EXPECT_FALSE(m_link.StartMonitor());
    EXPECT_FALSE(queue(m_link, bytes({0xCC})));
}

TEST_F(LinkTest, closedLink_neitherMonitorsNorWrites) {
    EXPECT_FALSE(m_link.isOpen());
    EXPECT_FALSE(m_link.StartMonitor());
    EXPECT_FALSE(m_link.isMonitoring());
    EXPECT_FALSE(queue(m_link, bytes({0xCC})));
    EXPECT_TRUE(m_reports.empty());
}

TEST_F(LinkTest, writeThatDoesNotFitTheSendBuffer_isRefusedAndReported) {
    ASSERT_TRUE(openAndMonitor(2, kPanelEventMask, 6));
    EXPECT_FALSE(queue(m_link, bytes({1, 2, 3, 4, 5, 6, 7})));
    EXPECT_FALSE(m_link.QueueWrite(nullptr, 0));
    ASSERT_EQ(m_reports.size(), 2u);
    for (const QString& r : m_reports) {
        EXPECT_TRUE(r.startsWith(QStringLiteral("WARNING:  QueueWrite() Failed with the following error: \n")))
            << r.toStdString();
        EXPECT_TRUE(r.endsWith(QStringLiteral("\nPort: 2\n"))) << r.toStdString();
    }
    // Nothing of the refused bytes went out: the next command arrives alone.
    ASSERT_TRUE(queue(m_link, bytes({0xFA, 0x10, 0x00, 0x00, 0x00, 0x01})));
    EXPECT_EQ(m_pty.receive(6), bytes({0xFA, 0x10, 0x00, 0x00, 0x00, 0x01}));
}

TEST_F(LinkTest, deviceGone_reportsReadFileOnceClosesAndTellsTheOwner) {
    ASSERT_TRUE(openAndMonitor(4));
    m_pty.closeMaster();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_closedPorts.empty(); }, 3000));
    QCoreApplication::processEvents();
    EXPECT_EQ(m_closedPorts, std::vector<int>{4});
    ASSERT_EQ(m_reports.size(), 1u);
    EXPECT_TRUE(m_reports[0].startsWith(QStringLiteral("WARNING:  ReadFile() Failed with the following error: \n")))
        << m_reports[0].toStdString();
    EXPECT_TRUE(m_reports[0].endsWith(QStringLiteral("\nPort: 4\n")));
    EXPECT_FALSE(m_link.isOpen());
    EXPECT_FALSE(m_link.isMonitoring());
    EXPECT_FALSE(queue(m_link, bytes({0xCC})));
}

// Line settings as the port holds them after OpenLink.
struct LineRow {
    int baud;
    char parity;
    int dataBits;
    int stopBits;
    speed_t speed;
    bool parenb;
    bool parodd;
    bool cmspar;
    tcflag_t csize;
    bool cstopb;
    PortSettings settings;
};

class LineSettingsTest : public ::testing::TestWithParam<LineRow> {};

TEST_P(LineSettingsTest, openLink_appliesTheModeToTheDevice) {
    PtyPair pty;
    if (!pty.ok())
        GTEST_SKIP() << "no pseudo-terminal available";
    const LineRow& r = GetParam();
    CComPortLink link;
    std::vector<QString> reports;
    link.setErrorReporter([&](const QString& text) { reports.push_back(text); });
    link.setDeviceName(pty.slavePath());
    const bool needsDriver = r.parenb || r.csize != CS8;
    const bool driverHolds = pty.holdsParityAndDataBits();
    ASSERT_TRUE(link.OpenLink(1, r.baud, r.parity, r.dataBits, r.stopBits, kPanelEventMask, 512));
    EXPECT_TRUE(link.isOpen());
    const termios t = pty.slaveTermios();
    // A pseudo-terminal carries bytes without framing: parity or 7 data bits
    // it cannot hold, like RTS it does not have, are no failure there.
    EXPECT_TRUE(reports.empty()) << reports.front().toStdString();
    if (!needsDriver || driverHolds) {
        EXPECT_EQ((t.c_cflag & PARENB) != 0, r.parenb);
        EXPECT_EQ(t.c_cflag & CSIZE, r.csize);
    }
    EXPECT_EQ(cfgetospeed(&t), r.speed);
    EXPECT_EQ(cfgetispeed(&t), r.speed);
    EXPECT_EQ((t.c_cflag & PARODD) != 0, r.parodd);
    EXPECT_EQ((t.c_cflag & CMSPAR) != 0, r.cmspar);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, r.cstopb);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    // The settings as asked for, refused or not.
    EXPECT_EQ(link.GetLineSettings(), r.settings);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LineSettingsTest,
    ::testing::Values(
        LineRow{9600, 'N', 8, 1, B9600, false, false, false, CS8, false, {9600, 8, kParityNone, kStopBitsOne, 1}},
        LineRow{19200, 'N', 8, 2, B19200, false, false, false, CS8, true, {19200, 8, kParityNone, kStopBitsTwo, 1}},
        LineRow{2400, 'E', 8, 1, B2400, true, false, false, CS8, false, {2400, 8, kParityEven, kStopBitsOne, 1}},
        LineRow{19200, 'O', 7, 2, B19200, true, true, false, CS7, true, {19200, 7, kParityOdd, kStopBitsTwo, 1}},
        LineRow{1200, 'M', 8, 1, B1200, true, true, true, CS8, false, {1200, 8, kParityMark, kStopBitsOne, 1}},
        LineRow{300, 'S', 6, 1, B300, true, false, true, CS6, false, {300, 6, kParitySpace, kStopBitsOne, 1}}));

// A mode the link cannot build is reported; the port stays open and keeps
// the settings it had.
struct RefusedRow {
    int baud;
    char parity;
    int dataBits;
    int stopBits;
};

class RefusedModeTest : public ::testing::TestWithParam<RefusedRow> {};

TEST_P(RefusedModeTest, openLink_reportsBuildCommDcbAndKeepsTheEarlierSettings) {
    PtyPair pty;
    if (!pty.ok())
        GTEST_SKIP() << "no pseudo-terminal available";
    const RefusedRow& r = GetParam();
    CComPortLink link;
    std::vector<QString> reports;
    link.setErrorReporter([&](const QString& text) { reports.push_back(text); });
    link.setDeviceName(pty.slavePath());
    ASSERT_TRUE(link.OpenLink(2, 2400, 'N', 8, 2, kPanelEventMask, 512));
    ASSERT_TRUE(reports.empty());

    EXPECT_TRUE(link.OpenLink(2, r.baud, r.parity, r.dataBits, r.stopBits, kPanelEventMask, 512));
    EXPECT_TRUE(link.isOpen());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].startsWith(QStringLiteral("WARNING:  BuildCommDCB() Failed with the following error: \n")))
        << reports[0].toStdString();
    EXPECT_TRUE(reports[0].endsWith(QStringLiteral("\nPort: 2\n")));

    const termios t = pty.slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B2400));
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_cflag & PARENB, 0u);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(link.GetLineSettings(), (PortSettings{2400, 8, kParityNone, kStopBitsTwo, 1}));

    // And it still carries bytes.
    ASSERT_TRUE(queue(link, bytes({0xCC})));
    EXPECT_EQ(pty.receive(1), bytes({0xCC}));
}

INSTANTIATE_TEST_SUITE_P(Rows, RefusedModeTest,
                         ::testing::Values(RefusedRow{9600, 'N', 8, 3}, RefusedRow{9600, 'N', 8, 0},
                                           RefusedRow{9600, 'X', 8, 1}, RefusedRow{9600, '\0', 8, 1},
                                           RefusedRow{9600, 'N', 4, 1}, RefusedRow{9600, 'N', 9, 1},
                                           RefusedRow{0, 'N', 8, 1}, RefusedRow{-300, 'N', 8, 1}));

}  // namespace
}  // namespace veltra
