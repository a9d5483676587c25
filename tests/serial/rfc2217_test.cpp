// The RFC 2217 codec on bytes alone, and the names and reasons of network ports.

#include "rfc2217/rfc2217_codec.h"
#include "serial/ccomportlink.h"
#include "serial/net_transport.h"

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <tuple>

namespace veltra::test {
namespace {

using rfc2217::Answer;
using rfc2217::Bytes;
using rfc2217::Codec;

Bytes hex(const char* text) {
    const QByteArray b = QByteArray::fromHex(text);
    return Bytes(b.begin(), b.end());
}

struct Received {
    Bytes data, reply;
    std::vector<Answer> answers;
    bool operator==(const Received&) const = default;
};

Received feed(Codec& c, const Bytes& stream, std::vector<std::size_t> cuts) {
    Received r;
    cuts.push_back(stream.size());
    std::size_t from = 0;
    for (const std::size_t to : cuts) {
        c.receive(stream.data() + from, to - from, r.data, r.reply, r.answers);
        from = to;
    }
    return r;
}

// ser2net's greeting, its answers to a baud rate (one with an escaped 0xFF in
// its value), data with 0xFF, a NOP, and a subnegotiation of another option.
const Bytes kServerStream = hex(
    "fffb03 fffd03 fffb01 fffe01 fffd00 fffb00 fffd2c"
    "fffa2c65 00002580 fff0  fffa2c65 0000ffff00 fff0"
    "cc ffff 0d 00 fff1 fffa1801fff0 fa");

TEST(Rfc2217CodecTest, serverStreamCutAnywhere_givesTheSameDataRepliesAndAnswers) {
    Codec whole;
    whole.start();
    const Received expected = feed(whole, kServerStream, {});
    // Echo refused, go-ahead suppression both ways; binary and the COM port
    // option were asked for by start() and are not answered again.
    EXPECT_EQ(expected.reply, hex("fffd03 fffb03 fffe01"));
    EXPECT_EQ(expected.data, hex("ccff0d00fa"));  // binary: a NUL after CR is data
    EXPECT_EQ(expected.answers, (std::vector<Answer>{{1, hex("00002580")}, {1, hex("0000ff00")}}));
    EXPECT_EQ(whole.comPort(), Codec::Agreement::Agreed);
    std::vector<std::size_t> everyByte;
    for (std::size_t cut = 1; cut < kServerStream.size(); ++cut) {
        Codec c;
        c.start();
        EXPECT_EQ(feed(c, kServerStream, {cut}), expected) << "cut at " << cut;
        everyByte.push_back(cut);
    }
    Codec bytewise;
    bytewise.start();
    EXPECT_EQ(feed(bytewise, kServerStream, everyByte), expected);
}

TEST(Rfc2217CodecTest, negotiation_isAnsweredOncePerChange) {
    struct Row { const char *received, *reply; Codec::Agreement comPort; };
    const Row rows[] = {
        {"fffd18 fffd18", "fffc18", Codec::Agreement::Pending},       // DO terminal type: WONT, once
        {"fffb18", "fffe18", Codec::Agreement::Pending},              // WILL terminal type: DONT
        {"fffd2c fffd2c", "", Codec::Agreement::Agreed},              // asked for, so agreed silently
        {"fffe2c", "", Codec::Agreement::Refused},                    // refused before agreeing
        {"fffd2c fffe2c", "fffc2c", Codec::Agreement::Refused},       // withdrawn after agreeing
        {"fffd03 fffd03 fffe03", "fffb03 fffc03", Codec::Agreement::Pending},
        {"fffc00 fffb00", "fffd00", Codec::Agreement::Pending},       // binary from the server: refused, offered again
    };
    for (const Row& row : rows) {
        Codec c;
        EXPECT_EQ(c.start(), hex("fffb2c fffb00 fffd00"));
        const Received r = feed(c, hex(row.received), {});
        EXPECT_EQ(r.reply, hex(row.reply)) << row.received;
        EXPECT_TRUE(r.data.empty()) << row.received;
        EXPECT_EQ(c.comPort(), row.comPort) << row.received;
    }
}

TEST(Rfc2217CodecTest, dataAndCommands_escapeEvery0xFF) {
    Codec binary;
    binary.start();
    feed(binary, hex("fffd00"), {});  // the server takes binary
    Codec text;                       // it does not (yet): a CR goes out as CR NUL
    struct Row { const Codec* codec; const char *data, *wire; };
    for (const Row& row : {Row{&binary, "faf0ffff", "faf0ffffffff"}, Row{&binary, "0d", "0d"}, Row{&text, "ee0dff", "ee0d00ffff"}}) {
        Bytes out;
        const Bytes data = hex(row.data);
        row.codec->encode(data.data(), data.size(), out);
        EXPECT_EQ(out, hex(row.wire)) << row.data;
    }
    EXPECT_EQ(rfc2217::setBaudRate(0xFF00), hex("fffa2c01 0000ffff00 fff0"));
    EXPECT_EQ(rfc2217::comPortCommand(rfc2217::kPurgeData, {3}), hex("fffa2c0c03fff0"));
    // The server's data with a NUL after CR while not binary: the NUL is padding.
    Codec c;
    EXPECT_EQ(feed(c, hex("0d00ee0d0a"), {}).data, hex("0dee0d0a"));
}

TEST(NetworkDeviceTest, namesOfBothFormsAreParsedAndOthersRefusedWithTheForm) {
    const std::tuple<const char*, bool, const char*, int> valid[] = {
        {"socket://127.0.0.1:7000", false, "127.0.0.1", 7000}, {"rfc2217://[::1]:4001", true, "::1", 4001},
        {"RFC2217://lab-pc.example:65535/", true, "lab-pc.example", 65535}};
    for (const auto& [name, rfc2217, host, port] : valid) {
        const auto d = parseNetworkDevice(name, nullptr);
        ASSERT_TRUE(isNetworkDevice(name) && d) << name;
        EXPECT_EQ(std::tuple(d->rfc2217, d->host, int(d->port)), std::tuple(rfc2217, QString(host), port));
    }
    for (const char* name : {"socket://::1:7000", "socket://lab-pc", "socket://lab-pc:0", "socket://lab-pc:70000",
                             "socket://user@lab-pc:7000", "rfc2217://lab-pc:7000/ttyS0"}) {
        QString why;
        EXPECT_TRUE(isNetworkDevice(name) && !parseNetworkDevice(name, &why)) << name;
        EXPECT_TRUE(why.contains("socket://HOST:PORT or rfc2217://HOST:PORT")) << why.toStdString();
    }
    EXPECT_FALSE(isNetworkDevice("/dev/ttyUSB0") || isNetworkDevice("/tmp/socket://x"));
}

// Each cause its own words; the name case is the resolver's error as Qt reports it.
TEST(NetworkDeviceTest, connectFailures_eachHaveTheirOwnReason) {
    using E = QAbstractSocket::SocketError;
    const std::tuple<E, const char*, const char*> rows[] = {
        {E::HostNotFoundError, "Host not found", "host name unknown"},
        {E::NetworkError, "Network unreachable", "no route to host (Network unreachable)"},
        {E::NetworkError, "Connection timed out", "timed out"},
        {E::SocketTimeoutError, "", "timed out"},
    };
    for (const auto& [error, text, reason] : rows)
        EXPECT_EQ(connectFailureReason(error, text).toStdString(), reason);
}

// A server that agrees to the option and then answers nothing: the link gives
// the settings up after a while and carries data, 0xFF escaped both ways.
TEST(Rfc2217LinkTest, unansweredSettings_areGivenUpAndDataFlowsEscaped) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QTcpSocket* peer = nullptr;
    QByteArray heard;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        peer = server.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead, [&] { heard += peer->readAll(); });
        peer->write(QByteArray::fromHex("fffd2c fffd00 fffb00"));
    });
    CComPortLink link;
    link.setDeviceName(QString("rfc2217://127.0.0.1:%1").arg(server.serverPort()));
    link.setWaitForConnection(true);
    QStringList errors;
    link.setErrorReporter([&](const QString& text) { errors << text; });
    std::vector<int> received;
    link.setByteHandler([&](int byte, int) { received.push_back(byte); });
    ASSERT_TRUE(link.OpenLink(1, 19200, 'N', 8, 1, kPanelEventMask, 64)) << link.lastOpenError().toStdString();
    ASSERT_TRUE(link.StartMonitor());
    EXPECT_TRUE(heard.startsWith(QByteArray::fromHex("fffb2c fffb00 fffd00"))) << heard.toHex().toStdString();
    EXPECT_TRUE(heard.contains(QByteArray::fromHex("fffa2c0100004b00fff0")));  // 19200 baud
    heard.clear();
    const quint8 repeatContinuous[] = {0xFA, 0xF0, 0xFF, 0xFF};
    ASSERT_TRUE(link.QueueWrite(repeatContinuous, 4));
    EXPECT_TRUE(QTest::qWaitFor([&] { return heard.endsWith(QByteArray::fromHex("faf0ffffffff")); }, 5000))
        << heard.toHex().toStdString();
    peer->write(QByteArray::fromHex("faf0ffffffff0d"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return received == std::vector<int>{0xFA, 0xF0, 0xFF, 0xFF, 0x0D}; }, 5000));
    EXPECT_TRUE(errors.isEmpty()) << errors.join("\n").toStdString();
}

// One server port is one device however it is written: a second link asking
// for it while the first holds it (connected, or still connecting) is refused
// without trying, as a second serial port on one device is; it is free again
// once the first lets it go.
TEST(NetworkLinkTest, aServerPortHeldByOneLink_isRefusedToAnotherUnderAnyOfItsNames) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    int accepted = 0;
    QObject::connect(&server, &QTcpServer::newConnection, [&] { while (server.nextPendingConnection()) ++accepted; });
    const QString url = QString("socket://127.0.0.1:%1").arg(server.serverPort());
    CComPortLink first;
    first.setDeviceName(url);
    EXPECT_FALSE(first.OpenLink(1, 9600, 'N', 8, 1, kPanelEventMask, 64));
    ASSERT_TRUE(first.isConnecting());
    const QString names[] = {url, QString("SOCKET://127.0.0.1:%1").arg(server.serverPort()),
                             QString("rfc2217://127.0.0.1:%1/").arg(server.serverPort())};
    for (const bool connected : {false, true}) {
        if (connected) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return first.isOpen() && accepted == 1; }, 5000));
        }
        for (const QString& name : names) {
            SCOPED_TRACE(name.toStdString());
            CComPortLink second;
            second.setDeviceName(name);
            QStringList events;
            second.setEventHandler([&](int, const QString& text) { events << text; });
            EXPECT_FALSE(second.OpenLink(2, 9600, 'N', 8, 1, kPanelEventMask, 64));
            EXPECT_FALSE(second.isConnecting());
            EXPECT_EQ(second.lastOpenError(), "already open as COM1 (" + url + ")");
            EXPECT_EQ(events, QStringList{"open failed: already open as COM1 (" + url + ")"});
        }
    }
    first.setDeviceName("/nonexistent/veltra-com1");
    first.OpenLink(1, 9600, 'N', 8, 1, kPanelEventMask, 64);
    CComPortLink second;
    second.setDeviceName(names[1]);
    second.setWaitForConnection(true);
    EXPECT_TRUE(second.OpenLink(2, 9600, 'N', 8, 1, kPanelEventMask, 64)) << second.lastOpenError().toStdString();
    EXPECT_EQ(accepted, 2);
}

}  // namespace
}  // namespace veltra::test
