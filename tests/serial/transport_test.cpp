// The transport a device name gets, a network transport against a server
// that stops reading, and the link's reconnecting over a transport the test
// plays.

#include "serial/ccomportlink.h"
#include "serial/net_transport.h"
#include "serial/serial_transport.h"
#include "support/qt_print.h"

#include <QTcpServer>
#include <QTest>

#include <gtest/gtest.h>

namespace veltra::test {
namespace {

TEST(TransportFactoryTest, eachDeviceNameGetsItsTransportAndOneServerPortOneIdentity) {
    enum class Kind { Serial, Net };
    struct Row {
        const char* device;
        Kind kind;
        const char* identity;  // nullptr: not asked (the platform's own)
    };
    const Row rows[] = {
        {"/dev/ttyS0", Kind::Serial, nullptr},
        {"COM3", Kind::Serial, nullptr},
        {"./socket://x", Kind::Serial, nullptr},  // a path, whatever it looks like
        {"socket://127.0.0.1:4001", Kind::Net, "net:[127.0.0.1]:4001"},
        {"SOCKET://LocalHost:4001", Kind::Net, "net:[localhost]:4001"},
        {"rfc2217://[::1]:4001/", Kind::Net, "net:[::1]:4001"},
        {"rfc2217://host-without-port", Kind::Net, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.device);
        std::unique_ptr<Transport> t(makeTransport(QString::fromLatin1(row.device)));
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->device(), QString::fromLatin1(row.device));
        EXPECT_EQ(qobject_cast<NetTransport*>(t.get()) != nullptr, row.kind == Kind::Net);
        EXPECT_EQ(qobject_cast<SerialTransport*>(t.get()) != nullptr, row.kind == Kind::Serial);
        EXPECT_EQ(t->lossFollowsWrite(), row.kind == Kind::Net);
        if (row.identity) {
            EXPECT_EQ(t->identity(), QString::fromLatin1(row.identity));
        }
        EXPECT_FALSE(t->isOpen());
    }
    // A network name that is none fails at once, with its kind, and no
    // connection is tried.
    NetTransport bad(QStringLiteral("socket://127.0.0.1"));
    const Transport::OpenResult r = bad.open(std::nullopt);
    EXPECT_EQ(r.outcome, Transport::Outcome::Failed);
    EXPECT_EQ(r.kind, OpenFailureKind::BadAddress);
    EXPECT_TRUE(r.reason.startsWith("no TCP port")) << r.reason.toStdString();
    EXPECT_FALSE(bad.isConnecting());
}

// A server whose program never takes the connection (it waits in the
// listening queue) reads nothing: once more than the limit waits to go out,
// the connection is given up with that reason, and memory stays bounded.
TEST(NetTransportTest, aServerThatNeverReads_endsTheConnectionAtTheWriteLimit) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    server.pauseAccepting();
    NetTransport t(QString("socket://127.0.0.1:%1").arg(server.serverPort()));
    int opened = 0;
    QStringList lost;
    QObject::connect(&t, &Transport::opened, [&] { ++opened; });
    QObject::connect(&t, &Transport::lost, [&](const QString& op, const QString& text) { lost << op + ' ' + text; });
    ASSERT_EQ(t.open(LineRequest{}).outcome, Transport::Outcome::Connecting);
    ASSERT_TRUE(QTest::qWaitFor([&] { return opened == 1; }, 5000));

    const QByteArray chunk(64 * 1024, 'x');
    qint64 written = 0;
    qint64 mostWaiting = 0;
    constexpr qint64 kGiveUpAt = qint64{256} << 20;  // far beyond what the system buffers on loopback
    while (lost.isEmpty() && written < kGiveUpAt) {
        if (t.isOpen() && t.write(chunk, true))
            written += chunk.size();
        mostWaiting = std::max(mostWaiting, t.bytesToWrite());
        QCoreApplication::processEvents();
    }
    ASSERT_EQ(lost.size(), 1) << "wrote " << written << " bytes";
    EXPECT_TRUE(lost.front().startsWith("send() The server does not read what is sent to it (over 1 MiB waiting)"))
        << lost.front().toStdString();
    EXPECT_FALSE(t.isOpen());
    EXPECT_LE(mostWaiting, NetTransport::kWriteLimit + chunk.size());
    EXPECT_EQ(opened, 1);
}

// A device the test plays: opened or refused as it says, bytes handed in by
// arrive(), taken away by lose().
class FakeTransport : public Transport {
public:
    FakeTransport(const QString& device, QObject* parent) : Transport(parent), m_device(device) {}
    QString device() const override { return m_device; }
    QString identity() const override { return "fake:" + m_device; }
    OpenResult open(const std::optional<LineRequest>&) override {
        ++opens;
        if (refuse) return {Outcome::Failed, OpenFailureKind::Missing, "does not exist", {}};
        m_open = true;
        return {Outcome::Opened, OpenFailureKind::None, {}, {}};
    }
    bool setsLineInPlace() const override { return false; }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    bool isConnecting() const override { return false; }
    bool lossFollowsWrite() const override { return false; }
    qint64 bytesAvailable() const override { return m_rx.size(); }
    QByteArray readAll() override { return std::exchange(m_rx, {}); }
    bool write(const QByteArray& data, bool) override { written += data; return true; }
    qint64 bytesToWrite() const override { return 0; }
    void purge(bool input, bool) override { if (input) m_rx.clear(); }
    PortSettings lineSettings() const override { return {}; }
    std::optional<ServerLine> deviceLine() const override { return std::nullopt; }

    void arrive(const QByteArray& bytes) { m_rx += bytes; emit readyRead(); }
    void lose() { m_open = false; emit lost("read()", "gone"); }

    int opens = 0;
    bool refuse = false;
    QByteArray written;

private:
    QString m_device;
    bool m_open = false;
    QByteArray m_rx;
};

// A device lost while the report of an earlier loss still waits in a box:
// whatever the reconnect opened meanwhile is the link's from then on, and the
// closing told by the earlier loss never acts on it.
TEST(LinkReconnectTest, aLossToldAfterTheReconnect_leavesTheNewOpeningAlone) {
    struct Row {
        const char* name;
        bool boxWaitsForTheReconnect;
        int closedCalls;       // the closed handler, for the one loss
        int reconnectedCalls;  // once back
    };
    const Row rows[] = {
        {"box closed at once", false, 1, 1},
        {"box open until the device is back", true, 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HeldDevices held;
        FakeTransport* fake = nullptr;
        CComPortLink link;
        link.setHeldDevices(held);
        link.setTransportFactory([&](const QString& device, QObject* parent) {
            return fake = new FakeTransport(device, parent);
        });
        link.setDeviceName("com7");
        QByteArray received;
        int closed = 0, reconnected = 0, reports = 0;
        link.setByteHandler([&](int byte, int) { received += static_cast<char>(byte); });
        link.setClosedHandler([&](int, const QString&) { ++closed; });
        link.setReconnectedHandler([&](int) { ++reconnected; });
        link.setErrorReporter([&](const QString&) {
            ++reports;
            if (row.boxWaitsForTheReconnect) {
                EXPECT_TRUE(QTest::qWaitFor([&] { return link.isOpen(); }, 3000));
            }
        });
        ASSERT_TRUE(link.OpenLink(7, 9600, 'N', 8, 1, kPanelEventMask, 64) && link.StartMonitor());
        ASSERT_NE(fake, nullptr);
        fake->refuse = !row.boxWaitsForTheReconnect;  // the first tries find nothing
        fake->lose();
        EXPECT_EQ(reports, 1);
        if (!row.boxWaitsForTheReconnect) {
            EXPECT_TRUE(link.isReconnecting());
            ASSERT_TRUE(QTest::qWaitFor([&] { return fake->opens >= 2; }, 3000));  // a try failed
            EXPECT_FALSE(link.isOpen());
            fake->refuse = false;
            ASSERT_TRUE(QTest::qWaitFor([&] { return link.isOpen(); }, 3000));
        }
        EXPECT_EQ(closed, row.closedCalls);
        EXPECT_EQ(reconnected, row.reconnectedCalls);
        EXPECT_FALSE(link.isReconnecting());
        EXPECT_TRUE(link.isMonitoring());
        fake->arrive("\x5a");
        EXPECT_TRUE(QTest::qWaitFor([&] { return received == "\x5a"; }, 3000)) << received.toHex().toStdString();
        // The device held by this link is refused to another on the same map.
        CComPortLink other;
        other.setHeldDevices(held);
        other.setTransportFactory([](const QString& device, QObject* parent) { return new FakeTransport(device, parent); });
        other.setDeviceName("com7");
        EXPECT_FALSE(other.OpenLink(8, 9600, 'N', 8, 1, kPanelEventMask, 64));
        EXPECT_EQ(other.lastOpenFailure(), OpenFailureKind::HeldHere);
    }
}

}  // namespace
}  // namespace veltra::test
