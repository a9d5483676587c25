#pragma once

#include "rfc2217/rfc2217_codec.h"
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

// Line settings asked of the server (codes of port_settings.h).
struct LineRequest {
    int baudRate = 9600;
    std::uint8_t dataBits = 8;
    std::uint8_t parity = kParityNone;
    std::uint8_t stopBits = kStopBitsOne;
};

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
    // What the server confirmed; what it left unanswered as asked.
    PortSettings lineSettings() const { return m_settings; }
    QString errorString() const;

signals:
    void ready();
    void failed(const QString& reason);
    void dataArrived();
    void lost(const QString& reason);
    // The server put another value in place than the one asked for.
    void settingRefused(const QString& text);

private:
    enum class Phase { Closed, Connecting, Settling, Negotiating, Ready };
    struct Pending {
        std::uint8_t command;
        rfc2217::Bytes value;
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
    void fail(const QString& reason);
    // What a server said before it closed the connection, as a few printable words.
    QString serverWords();
    void send(const rfc2217::Bytes& bytes);

    NetworkDevice m_device;
    QTcpSocket* m_socket;
    QTimer* m_timer;  // connect timeout, then the wait for answers
    Phase m_phase = Phase::Closed;
    rfc2217::Codec m_codec;
    bool m_settingsSent = false;
    LineRequest m_line;
    PortSettings m_settings;
    std::vector<Pending> m_pending;
    QByteArray m_rx;
    int m_timeoutMs = kConnectTimeoutMs;
};

}  // namespace veltra
