#pragma once

#include "rfc2217/rfc2217_codec.h"
#include "serial/open_failure.h"
#include "serial/port_settings.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class QTcpSocket;
class QTimer;

namespace veltra {

// A serial port behind a terminal server: socket://HOST:PORT (raw TCP, the
// bytes are the line's bytes) or rfc2217://HOST:PORT (Telnet, line settings
// set on the server's port). HOST is a name, an IPv4 address or an IPv6
// address in brackets.
struct NetworkDevice {
    bool rfc2217 = false;
    QString host;  // without brackets
    quint16 port = 0;
};

// Whether `device` is meant as a network port (its scheme), valid or not.
bool isNetworkDevice(const QString& device);
// The parts of a network device name; nothing (and why in *why) when it is
// not a valid one.
std::optional<NetworkDevice> parseNetworkDevice(const QString& device, QString* why);
// A connection that could not be made, in a few words of its own per cause:
// refused, no route, host name unknown, timed out.
QString connectFailureReason(QAbstractSocket::SocketError error, const QString& systemText);
OpenFailureKind connectFailureKind(QAbstractSocket::SocketError error, const QString& systemText);

// Line settings asked of the server (codes of port_settings.h).
struct LineRequest {
    int baudRate = 9600;
    std::uint8_t dataBits = 8;
    std::uint8_t parity = kParityNone;
    std::uint8_t stopBits = kStopBitsOne;
};

// The line as an RFC 2217 server has it, in the protocol's own codes, any
// value it answers kept as it came: its answers, and what was asked where it
// gave none.
struct ServerLine {
    std::uint32_t baudRate = 0;
    std::uint8_t dataBits = 0;
    std::uint8_t parity = 1;    // 1 none, 2 odd, 3 even, 4 mark, 5 space
    std::uint8_t stopSize = 1;  // 1 one, 2 two, 3 one and a half
    bool operator==(const ServerLine&) const = default;
};
// The same line in the protocol's codes.
ServerLine serverLineOf(const PortSettings& settings);
// "none", "odd", "even", "mark", "space"; another code as "unknown (9)".
QString parityName(std::uint8_t parity);
// "1", "2", "1.5"; another code as "unknown (7)".
QString stopBitsName(std::uint8_t stopSize);
// "19200 8N1", "9600 7E1.5"; a code without a name is a "?" and is given
// after: "1200 5?? (parity 9, stop size 7)".
QString lineText(const ServerLine& line);

// The network transport of a link: connects without blocking, sets and
// confirms the line settings (RFC 2217), carries data bytes. Received data
// waits here (bounded) until the link takes it.
class NetTransport : public QObject {
    Q_OBJECT

public:
    // How long connecting may take, and how long an RFC 2217 server is given
    // to confirm each line setting before the link goes on without it.
    static constexpr int kConnectTimeoutMs = 5000;
    static constexpr int kAnswerTimeoutMs = 1000;
    // A raw TCP server that turns a client away (ser2net whose serial device
    // another client holds) accepts and closes at once: a connection is
    // ready once it has stayed up this long.
    static constexpr int kSettleMs = 100;

    NetTransport(const NetworkDevice& device, QObject* parent = nullptr);
    ~NetTransport() override;

    // Starts connecting; ready() or failed() follows. Anything open is dropped first.
    void connectToServer(const LineRequest& line, int timeoutMs = kConnectTimeoutMs);
    // On a ready connection: sets the line anew; answers are checked as they come.
    void reconfigure(const LineRequest& line);
    void close();

    bool isReady() const { return m_phase == Phase::Ready; }
    bool isRfc2217() const { return m_device.rfc2217; }
    bool isConnecting() const {
        return m_phase == Phase::Connecting || m_phase == Phase::Settling || m_phase == Phase::Negotiating;
    }

    qint64 available() const { return m_rx.size(); }
    QByteArray read();
    // Drops received data not yet taken (and asks an RFC 2217 server to drop
    // what it holds in the directions asked).
    void purge(bool input, bool output);
    bool write(const QByteArray& data);
    qint64 bytesToWrite() const;
    // What the server confirmed; what it left unanswered as asked. A value
    // the line-settings record has no code for leaves the one asked for.
    PortSettings lineSettings() const { return m_settings; }
    // The same with every value as the server answered it.
    ServerLine serverLine() const { return m_serverLine; }
    QString errorString() const;
    // The kind of the last failed() connection.
    OpenFailureKind failureKind() const { return m_failureKind; }

signals:
    void ready();
    void failed(const QString& reason);
    void dataArrived();
    void lost(const QString& reason);
    // The server put another value in place than the one asked for, or
    // took none of the line settings (it refused or did not agree).
    void settingRefused(const QString& text);

private:
    enum class Phase { Closed, Connecting, Settling, Negotiating, Ready };
    struct Pending {
        std::uint8_t command;
        std::uint32_t value;
    };

    void onConnected();
    void onReadyRead();
    void onSocketError(QAbstractSocket::SocketError error);
    void onDisconnected();
    void onTimeout();
    void pump();
    void readSocket();
    void sendSettings();
    void handleAnswer(const rfc2217::Answer& answer);
    void finishNegotiation();
    void fail(const QString& reason, OpenFailureKind kind);
    // What a server said before it closed the connection, as a few printable words.
    QString serverWords();
    void send(const rfc2217::Bytes& bytes);
    // A server that stops reading while we still have to answer it (or to
    // send) would make our output grow without end: past a limit, the
    // connection is given up.
    bool stalled() const;
    void dropStalled();
    void setRequested(const LineRequest& line);

    NetworkDevice m_device;
    QTcpSocket* m_socket;
    QTimer* m_timer;  // connect timeout, then the wait for answers
    Phase m_phase = Phase::Closed;
    rfc2217::Codec m_codec;
    bool m_settingsSent = false;
    LineRequest m_line;
    PortSettings m_settings;
    ServerLine m_serverLine;
    std::vector<Pending> m_pending;
    QByteArray m_rx;
    int m_timeoutMs = kConnectTimeoutMs;
    OpenFailureKind m_failureKind = OpenFailureKind::None;
};

}  // namespace veltra
