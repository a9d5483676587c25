// The RFC 2217 codec on bytes alone, and the names and reasons of network ports.

#include "rfc2217/rfc2217_codec.h"
#include "serial/ccomportlink.h"
#include "serial/net_transport.h"
#include "support/qt_print.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
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
        // Toggled over and over: one answer per change, none to a repeat.
        {"fffd2c fffe2c fffe2c fffd2c fffd2c fffe2c fffd2c", "fffc2c fffb2c fffc2c fffb2c", Codec::Agreement::Agreed},
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
    EXPECT_EQ(rfc2217::comPortCommand(rfc2217::kPurgeData, {3}), hex("fffa2c0c03fff0"));
    // The server's data with a NUL after CR while not binary: the NUL is padding.
    Codec c;
    EXPECT_EQ(feed(c, hex("0d00ee0d0a"), {}).data, hex("0dee0d0a"));
}

// Each value as its bytes and back; on the wire every 0xFF doubled once.
TEST(Rfc2217CodecTest, settingValues_encodeDecodeAndAreEscapedOnce) {
    using namespace rfc2217;
    struct Row { std::uint8_t command; std::uint32_t value; const char *bytes, *wire; };
    const Row rows[] = {
        {kSetBaudRate, 19200, "00004b00", "fffa2c01 00004b00 fff0"},
        {kSetBaudRate, 255, "000000ff", "fffa2c01 000000ffff fff0"},
        {kSetBaudRate, 511, "000001ff", "fffa2c01 000001ffff fff0"},
        {kSetBaudRate, 65535, "0000ffff", "fffa2c01 0000ffffffff fff0"},
        {kSetDataSize, 7, "07", "fffa2c02 07 fff0"},
        {kSetParity, 3, "03", "fffa2c03 03 fff0"},
        {kSetStopSize, 2, "02", "fffa2c04 02 fff0"},
        {kSetControl, kControlRtsOn, "0b", "fffa2c05 0b fff0"},
        {kPurgeData, kPurgeBoth, "03", "fffa2c0c 03 fff0"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(encodeValue(row.command, row.value), hex(row.bytes)) << row.bytes;
        EXPECT_EQ(decodeValue(row.command, hex(row.bytes)), row.value) << row.bytes;
        EXPECT_EQ(setting(row.command, row.value), hex(row.wire)) << row.wire;
        // The server's answer, as the codec hands it back: the value unescaped.
        Codec c;
        Bytes wire = hex(row.wire);
        wire[3] = static_cast<std::uint8_t>(wire[3] + kServerOffset);
        EXPECT_EQ(feed(c, wire, {}).answers, (std::vector<Answer>{{row.command, hex(row.bytes)}})) << row.wire;
    }
    // A value of the wrong size answers nothing.
    for (const auto& [command, bytes] : {std::pair{kSetBaudRate, "0000ffffffff"}, std::pair{kSetBaudRate, "2580"},
                                         std::pair{kSetParity, ""}, std::pair{kSetDataSize, "0808"}})
        EXPECT_EQ(decodeValue(command, hex(bytes)), std::nullopt) << bytes;
}

// A command inside a subnegotiation (which a well-formed stream never has)
// ends it, and is the command it is: its option byte is not data.
TEST(Rfc2217CodecTest, commandInsideSubnegotiation_endsItAndIsTakenAsACommand) {
    struct Row { const char *received, *data, *reply; std::vector<Answer> answers; };
    const Row rows[] = {
        {"fffa2c6500 fff1 4142", "4142", "", {{1, hex("00")}}},                     // NOP
        {"fffa2c6500 fffd03 4142", "4142", "fffb03", {{1, hex("00")}}},             // DO: answered
        {"fffa2c6500 fffb18 4142", "4142", "fffe18", {{1, hex("00")}}},             // WILL: refused
        {"fffa2c6500 fffa2c6608 fff0 41", "41", "", {{1, hex("00")}, {2, hex("08")}}},  // a new one begins
        {"fffa2c66 ffff fff0 41", "41", "", {{2, hex("ff")}}},                      // 0xFF in a value
    };
    for (const Row& row : rows) {
        const Bytes stream = hex(row.received);
        for (std::size_t cut = 0; cut < stream.size(); ++cut) {
            Codec c;
            c.start();
            const Received r = feed(c, stream, {cut});
            EXPECT_EQ(r.data, hex(row.data)) << row.received << " cut at " << cut;
            EXPECT_EQ(r.reply, hex(row.reply)) << row.received << " cut at " << cut;
            EXPECT_EQ(r.answers, row.answers) << row.received << " cut at " << cut;
        }
    }
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

// An RFC 2217 server as a script: its greeting, then to each line setting
// the value it puts in place (nothing: no answer). It reads a value as a
// real server does, unescaped and of the command's size; a value of another
// size is no value, and it answers what it has.
class ScriptedServer {
public:
    using Answerer = std::function<std::optional<std::uint32_t>(std::uint8_t command, std::optional<std::uint32_t> asked)>;

    ScriptedServer(const char* greeting, Answerer answerer) : m_answerer(std::move(answerer)) {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this, g = QByteArray::fromHex(greeting)] {
            m_peer = m_server.nextPendingConnection();
            QObject::connect(m_peer, &QTcpSocket::readyRead, [this] {
                heard += m_peer->readAll();
                answer();
            });
            m_peer->write(g);
        });
    }
    QString url() const { return QString("rfc2217://127.0.0.1:%1").arg(m_server.serverPort()); }

    QByteArray heard;

private:
    void answer() {
        using namespace rfc2217;
        for (;;) {
            const qsizetype start = heard.indexOf(QByteArray::fromHex("fffa2c"), m_parsed);
            if (start < 0 || start + 4 > heard.size()) return;
            const auto command = static_cast<std::uint8_t>(heard[start + 3]);
            Bytes value;
            qsizetype i = start + 4;
            for (; i + 1 < heard.size() && !(uchar(heard[i]) == kIac && uchar(heard[i + 1]) == kSe); ++i) {
                if (uchar(heard[i]) == kIac) ++i;  // IAC IAC: one 0xFF
                value.push_back(uchar(heard[i]));
            }
            if (i + 1 >= heard.size()) return;  // not complete yet
            m_parsed = i + 2;
            if (command < kSetBaudRate || command > kSetControl) continue;
            if (const auto put = m_answerer(command, decodeValue(command, value))) {
                const Bytes a = comPortCommand(static_cast<std::uint8_t>(command + kServerOffset), encodeValue(command, *put));
                m_peer->write(reinterpret_cast<const char*>(a.data()), qsizetype(a.size()));
            }
        }
    }

    QTcpServer m_server;
    QTcpSocket* m_peer = nullptr;
    Answerer m_answerer;
    qsizetype m_parsed = 0;
};

// Each way a server may answer the line asked for: said once each, the line
// as the server has it, and the opening never waits more than the answer time.
TEST(Rfc2217LinkTest, eachNegotiationOutcome_isToldWithTheLineAsTheServerHasIt) {
    using rfc2217::kSetBaudRate, rfc2217::kSetDataSize, rfc2217::kSetParity, rfc2217::kSetStopSize;
    const auto echo = [](std::uint8_t command, std::optional<std::uint32_t> asked) {
        return asked.value_or(command == kSetBaudRate ? 9600u : 1u);
    };
    const auto ownLine = [](std::uint8_t command, std::optional<std::uint32_t> asked) -> std::optional<std::uint32_t> {
        switch (command) {
        case kSetBaudRate: return 1200;
        case kSetDataSize: return 5;
        case kSetParity: return 9;
        case kSetStopSize: return 7;
        default: return asked;
        }
    };
    const auto silent = [](std::uint8_t, std::optional<std::uint32_t>) { return std::optional<std::uint32_t>(); };
    struct Row {
        const char* name;
        const char* greeting;
        ScriptedServer::Answerer answerer;
        int baud;
        QStringList told;
        ServerLine line;
        const char* connected;
    };
    const QString notSet = "the line runs with the server's own settings.";
    const Row rows[] = {
        {"its own line", "fffd2c fffd00 fffb00", ownLine, 19200,
         {"The server set 1200 baud instead of 19200 baud.", "The server set 5 data bits instead of 8 data bits.",
          "The server set parity unknown (9) instead of parity none.",
          "The server set stop bits unknown (7) instead of 1 stop bits."},
         {1200, 5, 9, 7}, "connected 1200 5?? (parity 9, stop size 7)"},
        {"refused", "fffe2c", echo, 19200, {"The server refused to set the line (RFC 2217); " + notSet},
         {19200, 8, 1, 1}, "connected 19200 8N1"},
        {"did not agree", "", echo, 19200, {"The server did not agree to set the line (RFC 2217); " + notSet},
         {19200, 8, 1, 1}, "connected 19200 8N1"},
        {"unanswered", "fffd2c", silent, 19200, {}, {19200, 8, 1, 1}, "connected 19200 8N1"},
        {"0xFF in the baud rate", "fffd2c", echo, 65535, {}, {65535, 8, 1, 1}, "connected 65535 8N1"},
        {"odd data bits", "fffd2c", [](std::uint8_t c, std::optional<std::uint32_t> a) {
             return std::optional<std::uint32_t>(c == kSetDataSize ? 255 : a.value_or(0)); },
         9600, {"The server set 255 data bits instead of 8 data bits."}, {9600, 255, 1, 1}, "connected 9600 255N1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server(row.greeting, row.answerer);
        CComPortLink link;
        link.setDeviceName(server.url());
        link.setWaitForConnection(true);
        QStringList told, reported, events;
        link.setLineHandler([&](int, const QString& text) { told << text; });
        link.setErrorReporter([&](const QString& text) { reported << text; });
        link.setEventHandler([&](int, const QString& text) { events << text; });
        QElapsedTimer opening;
        opening.start();
        ASSERT_TRUE(link.OpenLink(1, row.baud, 'N', 8, 1, kPanelEventMask, 64)) << link.lastOpenError().toStdString();
        EXPECT_LT(opening.elapsed(), 2000);
        EXPECT_EQ(told, row.told);
        EXPECT_EQ(link.deviceLine(), std::optional(row.line));
        EXPECT_TRUE(events.contains(row.connected)) << events.join(" | ").toStdString();
        // The panel's report of each, once the answer has been handled.
        EXPECT_TRUE(QTest::qWaitFor([&] { return reported.size() >= told.size(); }, 2000));
        for (qsizetype i = 0; i < told.size(); ++i)
            EXPECT_TRUE(reported.value(i).contains(told[i])) << reported.value(i).toStdString();
        if (row.baud == 65535) {  // escaped once on the wire
            EXPECT_TRUE(server.heard.contains(QByteArray::fromHex("fffa2c01 0000ffffffff fff0")))
                << server.heard.toHex().toStdString();
        }
    }
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
