#pragma once

#include "rfc2217/rfc2217_codec.h"
#include "serial/open_failure.h"
#include "serial/port_settings.h"
#include "serial/transport.h"

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

// The network transport of a link: connects without blocking, sets and
// confirms the line settings (RFC 2217), carries data bytes. Received data
// waits here (bounded) until the link takes it; output a server does not
// read is bounded too (the connection is dropped past 1 MiB waiting).
class NetTransport : public Transport {
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
    // Output waiting for a server to read, beyond which it is taken as one
    // that no longer reads (lost(), the connection dropped).
    static constexpr qint64 kWriteLimit = qint64{1} << 20;

    // `device` is socket://HOST:PORT or rfc2217://HOST:PORT; another name
    // fails to open (OpenFailureKind::BadAddress).
    explicit NetTransport(const QString& device, QObject* parent = nullptr);
    ~NetTransport() override;

    // Transport: open() starts connecting (Connecting, then opened() or
    // failed()); on a ready connection it sets the line anew in place.
    QString device() const override { return m_name; }
    // "net:[host]:port": one server port however its host is written.
    QString identity() const override;
    OpenResult open(const std::optional<LineRequest>& line) override;
    bool setsLineInPlace() const override { return isReady(); }
    void close() override;
    bool isOpen() const override { return isReady(); }
    bool isConnecting() const override {
        return m_phase == Phase::Connecting || m_phase == Phase::Settling || m_phase == Phase::Negotiating;
    }
    bool lossFollowsWrite() const override { return true; }
    qint64 bytesAvailable() const override { return m_rx.size(); }
    QByteArray readAll() override;
    bool write(const QByteArray& data, bool dropUnreadInput) override;
    qint64 bytesToWrite() const override;
    // Drops received data not yet taken (and asks an RFC 2217 server to drop
    // what it holds in the directions asked).
    void purge(bool input, bool output) override;
    // What the server confirmed; what it left unanswered as asked. A value
    // the line-settings record has no code for leaves the one asked for.
    PortSettings lineSettings() const override { return m_settings; }
    // RFC 2217: every value as the server answered it; raw TCP: nothing.
    std::optional<ServerLine> deviceLine() const override;

    bool isReady() const { return m_phase == Phase::Ready; }

private:
    enum class Phase { Closed, Connecting, Settling, Negotiating, Ready };
    struct Pending {
        std::uint8_t command;
        std::uint32_t value;
    };

    // Starts connecting; opened() or failed() follows. Anything open is dropped first.
    void connectToServer(const LineRequest& line);
    // On a ready connection: sets the line anew; answers are checked as they come.
    void reconfigure(const LineRequest& line);
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

    QString m_name;
    QString m_parseError;  // before m_parsed, which fills it in
    std::optional<NetworkDevice> m_parsed;
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
    OpenFailureKind m_failureKind = OpenFailureKind::None;
    QString m_failureReason;
    bool m_opening = false;  // inside open(): a failure is its result, not failed()
};

}  // namespace veltra
