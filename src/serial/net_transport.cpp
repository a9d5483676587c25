#include "serial/net_transport.h"

#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace veltra {

namespace {

// Received data held for the link (and the socket's own buffer beyond it):
// past that the server waits, so memory stays bounded.
constexpr qint64 kReadLimit = qint64{1} << 20;

const QString kSocketScheme = QStringLiteral("socket");
const QString kRfc2217Scheme = QStringLiteral("rfc2217");

QByteArray toByteArray(const rfc2217::Bytes& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size()));
}

// One setting as the server's answer (or our request) gives it.
QString settingName(std::uint8_t command, std::uint32_t v) {
    switch (command) {
    case rfc2217::kSetBaudRate: return QStringLiteral("%1 baud").arg(v);
    case rfc2217::kSetDataSize: return QStringLiteral("%1 data bits").arg(v);
    case rfc2217::kSetParity: return QStringLiteral("parity ") + parityName(static_cast<std::uint8_t>(v));
    case rfc2217::kSetStopSize:
        return v >= 1 && v <= 3 ? stopBitsName(static_cast<std::uint8_t>(v)) + QStringLiteral(" stop bits")
                                : QStringLiteral("stop bits ") + stopBitsName(static_cast<std::uint8_t>(v));
    default: return QStringLiteral("control %1").arg(v);
    }
}

std::uint8_t stopSizeOf(std::uint8_t stopBits) {
    return stopBits == kStopBitsTwo ? 2 : stopBits == kStopBitsOneAndHalf ? 3 : 1;
}

}  // namespace

bool isNetworkDevice(const QString& device) {
    return device.startsWith(kSocketScheme + QLatin1String("://"), Qt::CaseInsensitive) ||
           device.startsWith(kRfc2217Scheme + QLatin1String("://"), Qt::CaseInsensitive);
}

std::optional<NetworkDevice> parseNetworkDevice(const QString& device, QString* why) {
    const auto bad = [&](const QString& text) -> std::optional<NetworkDevice> {
        if (why) *why = text;
        return std::nullopt;
    };
    const QUrl url(device, QUrl::StrictMode);
    const QString form = QStringLiteral(" (socket://HOST:PORT or rfc2217://HOST:PORT; an IPv6 address in brackets)");
    if (!url.isValid() || url.host().isEmpty())
        return bad(QStringLiteral("not a valid network address") + form);
    if (url.port() < 1 || url.port() > 65535)
        return bad(QStringLiteral("no TCP port (1 to 65535) in the address") + form);
    if (!url.userInfo().isEmpty() || (!url.path().isEmpty() && url.path() != QLatin1String("/")) ||
        url.hasQuery() || url.hasFragment())
        return bad(QStringLiteral("only a host and a port may follow the scheme") + form);
    NetworkDevice d;
    d.rfc2217 = url.scheme().compare(kRfc2217Scheme, Qt::CaseInsensitive) == 0;
    if (!d.rfc2217 && url.scheme().compare(kSocketScheme, Qt::CaseInsensitive) != 0)
        return bad(QStringLiteral("not a valid network address") + form);
    d.host = url.host();
    d.port = static_cast<quint16>(url.port());
    return d;
}

OpenFailureKind connectFailureKind(QAbstractSocket::SocketError error, const QString& systemText) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return OpenFailureKind::Refused;
    case QAbstractSocket::HostNotFoundError: return OpenFailureKind::Unreachable;
    case QAbstractSocket::SocketTimeoutError: return OpenFailureKind::TimedOut;
    case QAbstractSocket::RemoteHostClosedError: return OpenFailureKind::TurnedAway;
    case QAbstractSocket::NetworkError:
        return systemText.contains(QLatin1String("timed out"), Qt::CaseInsensitive) ? OpenFailureKind::TimedOut
                                                                                    : OpenFailureKind::Unreachable;
    default: return OpenFailureKind::Other;
    }
}

QString connectFailureReason(QAbstractSocket::SocketError error, const QString& systemText) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("connection refused (nothing listens at that port)");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("host name unknown");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("timed out");
    case QAbstractSocket::RemoteHostClosedError:
        // ser2net does so when another connection holds its serial device.
        return QStringLiteral("the server closed the connection at once (is its serial device in use?)");
    case QAbstractSocket::NetworkError:
        if (systemText.contains(QLatin1String("timed out"), Qt::CaseInsensitive))
            return QStringLiteral("timed out");
        return systemText.isEmpty() ? QStringLiteral("no route to host")
                                    : QStringLiteral("no route to host (%1)").arg(systemText);
    default:
        return systemText.isEmpty() ? QStringLiteral("cannot connect")
                                    : QStringLiteral("cannot connect: %1").arg(systemText);
    }
}

NetTransport::NetTransport(const QString& device, QObject* parent)
    : Transport(parent),
      m_name(device),
      m_parsed(parseNetworkDevice(device, &m_parseError)),
      m_device(m_parsed.value_or(NetworkDevice{})),
      m_socket(new QTcpSocket(this)),
      m_timer(new QTimer(this)) {
    m_socket->setReadBufferSize(kReadLimit);
    m_socket->setProxy(QNetworkProxy::NoProxy);  // a terminal server is reached directly
    m_timer->setSingleShot(true);
    connect(m_socket, &QTcpSocket::connected, this, &NetTransport::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &NetTransport::onReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &NetTransport::onSocketError);
    connect(m_socket, &QTcpSocket::disconnected, this, &NetTransport::onDisconnected);
    connect(m_timer, &QTimer::timeout, this, &NetTransport::onTimeout);
}

NetTransport::~NetTransport() {
    m_phase = Phase::Closed;
    disconnect(m_socket, nullptr, this, nullptr);
    close();
}

QString NetTransport::identity() const {
    return m_parsed ? QStringLiteral("net:[%1]:%2").arg(m_device.host.toLower()).arg(m_device.port) : QString();
}

Transport::OpenResult NetTransport::open(const std::optional<LineRequest>& line) {
    if (!m_parsed)
        return {Outcome::Failed, OpenFailureKind::BadAddress, m_parseError, {}};
    if (isReady()) {
        if (line)
            reconfigure(*line);
        return {Outcome::Opened, OpenFailureKind::None, {}, {}};
    }
    m_opening = true;
    m_failureReason.clear();
    connectToServer(line.value_or(m_line));
    m_opening = false;
    if (!isConnecting())
        return {Outcome::Failed, m_failureKind, m_failureReason, {}};
    return {Outcome::Connecting, OpenFailureKind::None, {}, {}};
}

std::optional<ServerLine> NetTransport::deviceLine() const {
    return isReady() && m_device.rfc2217 ? std::optional(m_serverLine) : std::nullopt;
}

void NetTransport::connectToServer(const LineRequest& line) {
    close();
    m_phase = Phase::Connecting;
    m_codec = rfc2217::Codec();
    m_settingsSent = false;
    setRequested(line);
    m_timer->start(kConnectTimeoutMs);
    m_socket->connectToHost(m_device.host, m_device.port);
}

void NetTransport::close() {
    m_phase = Phase::Closed;
    m_timer->stop();
    m_pending.clear();
    m_rx.clear();
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        // One last non-blocking push, as a serial port gets, and an orderly
        // close: a server told by a reset may still hold its port a while
        // and turn away the next connection.
        m_socket->flush();
        m_socket->disconnectFromHost();
    }
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
}

void NetTransport::onConnected() {
    if (m_phase != Phase::Connecting)
        return;
    // Commands are a few bytes each, paced by the controller's answers:
    // they go out at once rather than gathered.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    if (!m_device.rfc2217) {
        m_phase = Phase::Settling;
        m_timer->start(kSettleMs);
        return;
    }
    m_phase = Phase::Negotiating;
    m_timer->start(kAnswerTimeoutMs);
    send(m_codec.start());
    pump();
}

void NetTransport::onTimeout() {
    if (m_phase == Phase::Settling) {
        // What came meanwhile is the server's greeting, not the line's.
        m_rx.clear();
        m_phase = Phase::Ready;
        emit opened();
    } else if (m_phase == Phase::Connecting) {
        fail(QStringLiteral("timed out after %1 s (the server does not answer)").arg(kConnectTimeoutMs / 1000.0),
             OpenFailureKind::TimedOut);
    } else {
        // Whatever the server has not confirmed by now it never will: go on.
        m_pending.clear();
        if (m_phase == Phase::Negotiating) {
            if (m_codec.comPort() != rfc2217::Codec::Agreement::Agreed)
                emit lineChanged(QStringLiteral("The server did not agree to set the line (RFC 2217); "
                                                   "the line runs with the server's own settings."));
            m_phase = Phase::Ready;
            emit opened();
        }
    }
}

void NetTransport::onReadyRead() {
    pump();
}

void NetTransport::pump() {
    if (m_phase == Phase::Closed)
        return;
    const Phase before = m_phase;
    readSocket();
    if (stalled()) {
        dropStalled();
        return;
    }
    if (m_phase == Phase::Settling)
        return;  // kept for serverWords() should the server close
    // Told once the reading is done: a handler may reopen or close.
    if (before == Phase::Negotiating && m_phase == Phase::Ready)
        emit opened();
    else if (m_phase == Phase::Ready && !m_rx.isEmpty())
        emit readyRead();
}

void NetTransport::readSocket() {
    while (m_rx.size() < kReadLimit && m_socket->bytesAvailable() > 0 && !stalled()) {
        const QByteArray chunk = m_socket->read(qMin<qint64>(m_socket->bytesAvailable(), 65536));
        if (chunk.isEmpty())
            break;
        if (!m_device.rfc2217) {
            m_rx.append(chunk);
            continue;
        }
        rfc2217::Bytes data;
        rfc2217::Bytes reply;
        std::vector<rfc2217::Answer> answers;
        m_codec.receive(reinterpret_cast<const std::uint8_t*>(chunk.constData()), static_cast<std::size_t>(chunk.size()),
                        data, reply, answers);
        m_rx.append(toByteArray(data));
        if (!reply.empty())
            send(reply);
        if (!m_settingsSent && m_codec.comPort() == rfc2217::Codec::Agreement::Agreed)
            sendSettings();
        for (const rfc2217::Answer& a : answers)
            handleAnswer(a);
        if (m_phase == Phase::Negotiating && m_codec.comPort() == rfc2217::Codec::Agreement::Refused) {
            emit lineChanged(QStringLiteral("The server refused to set the line (RFC 2217); "
                                               "the line runs with the server's own settings."));
            finishNegotiation();
        }
    }
}

void NetTransport::sendSettings() {
    m_settingsSent = true;
    using namespace rfc2217;
    m_pending = {
        {kSetBaudRate, static_cast<std::uint32_t>(m_line.baudRate)},
        {kSetDataSize, m_line.dataBits},
        {kSetParity, static_cast<std::uint32_t>(m_line.parity + 1)},
        {kSetStopSize, stopSizeOf(m_line.stopBits)},
        {kSetControl, kControlNoFlowControl},
    };
    Bytes out;
    const auto add = [&out](std::uint8_t command, std::uint32_t value) {
        const Bytes c = setting(command, value);
        out.insert(out.end(), c.begin(), c.end());
    };
    for (const Pending& p : m_pending)
        add(p.command, p.value);
    // RTS on, as a serial port is opened; not waited for: servers in front
    // of a pseudo-terminal never confirm it.
    add(kSetControl, kControlRtsOn);
    add(kPurgeData, kPurgeBoth);
    send(out);
    m_timer->start(kAnswerTimeoutMs);
}

void NetTransport::setRequested(const LineRequest& line) {
    m_line = line;
    m_settings = PortSettings{static_cast<std::uint32_t>(line.baudRate), line.dataBits, line.parity, line.stopBits, 1};
    m_serverLine = serverLineOf(m_settings);
}

void NetTransport::reconfigure(const LineRequest& line) {
    if (!isReady())
        return;
    setRequested(line);
    if (m_device.rfc2217 && m_codec.comPort() == rfc2217::Codec::Agreement::Agreed)
        sendSettings();
}

void NetTransport::handleAnswer(const rfc2217::Answer& answer) {
    using namespace rfc2217;
    // An answer of the wrong size answers nothing asked.
    const std::optional<std::uint32_t> value = decodeValue(answer.command, answer.value);
    for (auto it = m_pending.begin(); value && it != m_pending.end(); ++it) {
        if (it->command != answer.command || (answer.command == kSetControl && it->value != *value))
            continue;
        if (it->value != *value) {
            const auto code = static_cast<std::uint8_t>(*value);
            switch (answer.command) {
            case kSetBaudRate: m_serverLine.baudRate = m_settings.baudRate = *value; break;
            case kSetDataSize: m_serverLine.dataBits = m_settings.dataBits = code; break;
            case kSetParity:
                m_serverLine.parity = code;
                if (code >= 1 && code <= 5) m_settings.parity = static_cast<std::uint8_t>(code - 1);
                break;
            case kSetStopSize:
                m_serverLine.stopSize = code;
                if (code >= 1 && code <= 3)
                    m_settings.stopBits = code == 2 ? kStopBitsTwo : code == 3 ? kStopBitsOneAndHalf : kStopBitsOne;
                break;
            default: break;
            }
            emit lineChanged(QStringLiteral("The server set %1 instead of %2.")
                                    .arg(settingName(answer.command, *value), settingName(answer.command, it->value)));
        }
        m_pending.erase(it);
        break;
    }
    if (m_pending.empty() && m_settingsSent)
        finishNegotiation();
}

void NetTransport::finishNegotiation() {
    m_timer->stop();
    m_pending.clear();
    if (m_phase == Phase::Negotiating)
        m_phase = Phase::Ready;  // told by pump() once the reading is done
}

void NetTransport::fail(const QString& reason, OpenFailureKind kind) {
    m_failureKind = kind;
    m_failureReason = reason;
    close();
    if (!m_opening)
        emit failed(kind, reason);
}

QString NetTransport::serverWords() {
    QByteArray said = m_rx + m_socket->read(4096);
    said.truncate(200);
    QString words;
    for (const char c : said)
        words += c >= ' ' && c < 127 ? QChar::fromLatin1(c) : QChar(u' ');
    return words.simplified();
}

void NetTransport::onSocketError(QAbstractSocket::SocketError error) {
    if (m_phase == Phase::Settling || m_phase == Phase::Negotiating) {
        // The server turned the connection away: in its own words, where it gave some.
        QString reason = connectFailureReason(error, m_socket->errorString());
        if (const QString said = serverWords(); !said.isEmpty())
            reason += QStringLiteral(": \"%1\"").arg(said);
        fail(reason, connectFailureKind(error, m_socket->errorString()));
    } else if (m_phase == Phase::Connecting) {
        fail(connectFailureReason(error, m_socket->errorString()), connectFailureKind(error, m_socket->errorString()));
    } else if (m_phase == Phase::Ready) {
        const QString text = error == QAbstractSocket::RemoteHostClosedError
                                 ? QStringLiteral("The server closed the connection.")
                                 : QStringLiteral("The connection was lost: %1").arg(m_socket->errorString());
        close();
        emit lost(QStringLiteral("recv()"), text);
    }
}

void NetTransport::onDisconnected() {
    onSocketError(QAbstractSocket::RemoteHostClosedError);
}

QByteArray NetTransport::readAll() {
    QByteArray out;
    out.swap(m_rx);
    // What the socket held back while the link was full comes now.
    if (m_socket->bytesAvailable() > 0)
        QTimer::singleShot(0, this, &NetTransport::pump);
    return out;
}

void NetTransport::purge(bool input, bool output) {
    if (!isReady())
        return;
    if (input) {
        m_rx.clear();
        if (m_device.rfc2217) {
            // The server's negotiation in what is dropped still counts.
            readSocket();
            m_rx.clear();
            if (stalled())
                QMetaObject::invokeMethod(this, &NetTransport::dropStalled, Qt::QueuedConnection);
        } else {
            m_socket->read(m_socket->bytesAvailable());
        }
    }
    if (m_device.rfc2217 && m_codec.comPort() == rfc2217::Codec::Agreement::Agreed && (input || output))
        send(rfc2217::comPortCommand(rfc2217::kPurgeData, {input && output ? rfc2217::kPurgeBoth
                                                           : input         ? rfc2217::kPurgeReceive
                                                                           : rfc2217::kPurgeTransmit}));
}

bool NetTransport::write(const QByteArray& data, bool dropUnreadInput) {
    if (!isReady())
        return false;
    if (dropUnreadInput)
        purge(true, false);
    QByteArray wire = data;
    if (m_device.rfc2217) {
        rfc2217::Bytes encoded;
        m_codec.encode(reinterpret_cast<const std::uint8_t*>(data.constData()), static_cast<std::size_t>(data.size()),
                       encoded);
        wire = toByteArray(encoded);
    }
    if (m_socket->write(wire) != wire.size()) {
        emit error(QStringLiteral("send()"), m_socket->errorString());
        return false;
    }
    m_socket->flush();
    if (stalled())  // told once the caller's write has returned
        QMetaObject::invokeMethod(this, &NetTransport::dropStalled, Qt::QueuedConnection);
    return true;
}

void NetTransport::send(const rfc2217::Bytes& bytes) {
    if (bytes.empty() || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    m_socket->write(toByteArray(bytes));
    m_socket->flush();
}

bool NetTransport::stalled() const {
    return m_phase != Phase::Closed && m_socket->bytesToWrite() > kWriteLimit;
}

void NetTransport::dropStalled() {
    if (!stalled())
        return;
    const QString reason = QStringLiteral("The server does not read what is sent to it (over %1 MiB waiting); "
                                          "the connection was dropped.")
                               .arg(kWriteLimit >> 20);
    if (m_phase == Phase::Ready) {
        close();
        emit lost(QStringLiteral("send()"), reason);
    } else {
        fail(reason, OpenFailureKind::Other);
    }
}

qint64 NetTransport::bytesToWrite() const {
    return m_socket->bytesToWrite();
}

}  // namespace veltra
