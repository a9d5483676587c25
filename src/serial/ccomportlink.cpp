#include "serial/ccomportlink.h"

#include "serial/net_transport.h"
#include "serial/open_failure.h"
#include "serial/serial_platform.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QHash>
#include <QTimer>
#include <QtGlobal>

namespace veltra {

namespace {

// Marks a stretch in which the link checks QSerialPort's results itself, so
// errorOccurred from those calls is not reported a second time.
class ExplicitCall {
public:
    explicit ExplicitCall(int& counter) : m_counter(counter) { ++m_counter; }
    ~ExplicitCall() { --m_counter; }
    ExplicitCall(const ExplicitCall&) = delete;
    ExplicitCall& operator=(const ExplicitCall&) = delete;

private:
    int& m_counter;
};

bool toQtParity(char parity, QSerialPort::Parity& out, std::uint8_t& code) {
    switch (parity) {
    case 'N': case 'n': out = QSerialPort::NoParity; code = kParityNone; return true;
    case 'O': case 'o': out = QSerialPort::OddParity; code = kParityOdd; return true;
    case 'E': case 'e': out = QSerialPort::EvenParity; code = kParityEven; return true;
    case 'M': case 'm': out = QSerialPort::MarkParity; code = kParityMark; return true;
    case 'S': case 's': out = QSerialPort::SpaceParity; code = kParitySpace; return true;
    default: return false;
    }
}

std::uint8_t parityCode(QSerialPort::Parity parity) {
    switch (parity) {
    case QSerialPort::OddParity: return kParityOdd;
    case QSerialPort::EvenParity: return kParityEven;
    case QSerialPort::MarkParity: return kParityMark;
    case QSerialPort::SpaceParity: return kParitySpace;
    default: return kParityNone;
    }
}

std::uint8_t stopBitsCode(QSerialPort::StopBits stopBits) {
    switch (stopBits) {
    case QSerialPort::OneAndHalfStop: return kStopBitsOneAndHalf;
    case QSerialPort::TwoStop: return kStopBitsTwo;
    default: return kStopBitsOne;
    }
}

// Bytes QSerialPort may hold for the link while a callback keeps the link
// from reading (a box opened from a byte handler); beyond that the line
// waits in the driver, so memory stays bounded.
constexpr qint64 kReadBufferLimit = qint64{1} << 20;

constexpr int kReconnectIntervalMs = 1000;

}  // namespace

QString composeLinkErrorText(const QString& operation, const QString& systemText, int portNumber) {
    return QString::asprintf("WARNING:  %s Failed with the following error: \n%s\nPort: %d\n",
                             operation.toUtf8().constData(), systemText.toUtf8().constData(),
                             portNumber);
}

CComPortLink::CComPortLink(QObject* parent)
    : QObject(parent), m_port(new QSerialPort(this)), m_reconnectTimer(new QTimer(this)) {
    m_port->setReadBufferSize(kReadBufferLimit);
    connect(m_port, &QSerialPort::readyRead, this, &CComPortLink::onReadyRead);
    connect(m_port, &QSerialPort::errorOccurred, this, &CComPortLink::onErrorOccurred);
    m_reconnectTimer->setInterval(kReconnectIntervalMs);
    connect(m_reconnectTimer, &QTimer::timeout, this, &CComPortLink::tryReconnect);
}

CComPortLink::~CComPortLink() {
    // No callback runs from here on. One last non-blocking push of queued
    // output; whatever the line cannot take now is dropped with the port.
    m_monitoring = false;
    m_deferredWrites.clear();
    m_reconnectTimer->stop();
    disconnect(m_port, nullptr, this, nullptr);
    if (m_net)
        disconnect(m_net, nullptr, this, nullptr);  // it flushes and closes as it goes
    if (m_port->isOpen()) {
        m_port->flush();
        m_port->close();
    }
    releaseDevice();
}

bool CComPortLink::isOpen() const {
    return m_net ? m_net->isReady() : m_port->isOpen();
}

std::optional<ServerLine> CComPortLink::deviceLine() const {
    if (!isOpen())
        return std::nullopt;
    if (m_net)
        return m_net->isRfc2217() ? std::optional(m_net->serverLine()) : std::nullopt;
    return serverLineOf(m_lineSettings);
}

bool CComPortLink::isReconnecting() const {
    return m_reconnectTimer->isActive();
}

qint64 CComPortLink::bytesToWrite() const {
    qint64 n = m_net ? m_net->bytesToWrite() : m_port->bytesToWrite();
    for (const QByteArray& d : m_deferredWrites) n += d.size();
    return n;
}

QString CComPortLink::deviceName() const {
    return m_deviceName.isEmpty() ? defaultDeviceName(m_portNumber) : m_deviceName;
}

bool CComPortLink::OpenLink(int portNumber, int baudRate, char parity, int dataBits, int stopBits,
                            quint32 eventMask, int sendBufferSize) {
    const quint64 generation = ++m_generation;
    m_monitoring = false;
    m_deferredWrites.clear();
    m_reconnectTimer->stop();  // the operator's own choice replaces any retrying
    m_readErrorReported = false;
    m_requested = Requested{baudRate, parity, dataBits, stopBits};
    m_portNumber = portNumber;
    m_eventMask = eventMask;
    m_sendBufferSize = sendBufferSize;
    m_lastOpenError.clear();
    m_lastOpenFailure = OpenFailureKind::None;

    const QString device = deviceName();
    if (isNetworkDevice(device)) {
        {
            ExplicitCall guard(m_explicitCalls);
            if (m_port->isOpen()) {
                m_port->close();
                releaseDevice();
                event(QStringLiteral("closed: reopening"));
            }
            m_port->clearError();
        }
        return openNetwork(device, generation);
    }
    dropNetwork();
    {
        ExplicitCall guard(m_explicitCalls);
        if (m_port->isOpen()) {
            m_port->close();
            releaseDevice();
            event(QStringLiteral("closed: reopening"));
        }
        m_port->setPortName(device);
        if (const CComPortLink* other = deviceHolder(device)) {
            // Two ports on one device would share its replies.
            m_lastOpenError = QStringLiteral("already open as COM%1 (%2)").arg(other->portNumber()).arg(other->deviceName());
            m_lastOpenFailure = OpenFailureKind::HeldHere;
            event(QStringLiteral("open failed: ") + m_lastOpenError);
            return false;
        }
        if (!m_port->open(QIODevice::ReadWrite)) {
            // Opening failures show no box; the caller shows the port as closed.
            m_lastOpenError = describeOpenFailure(device);
            m_lastOpenFailure = openFailureKind(inspectDeviceNode(device), m_port->error());
            m_port->clearError();
            event(QStringLiteral("open failed: ") + m_lastOpenError);
            return false;
        }
    }
    holdDevice(device);
    event(QStringLiteral("opened ") + lineText());

    configure(baudRate, parity, dataBits, stopBits);
    if (generation != m_generation)
        return isOpen();  // a callback of an error report reopened or closed the link

    purge(QSerialPort::AllDirections);
    return generation == m_generation ? true : isOpen();
}

void CComPortLink::purge(QSerialPort::Directions directions) {
    if (m_net) {
        m_net->purge(directions.testFlag(QSerialPort::Input), directions.testFlag(QSerialPort::Output));
        return;
    }
    QString failure;
    {
        ExplicitCall guard(m_explicitCalls);
        if (!m_port->clear(directions))
            failure = m_port->errorString();
        m_port->clearError();
    }
    if (!failure.isEmpty())
        reportError(serial_platform::callName(serial_platform::LineCall::Purge), failure);
}

void CComPortLink::readLineSettings() {
    const qint32 baud = m_port->baudRate();
    m_lineSettings.baudRate = baud > 0 ? static_cast<std::uint32_t>(baud) : 0u;
    m_lineSettings.dataBits = static_cast<std::uint8_t>(m_port->dataBits());
    m_lineSettings.parity = parityCode(m_port->parity());
    m_lineSettings.stopBits = stopBitsCode(m_port->stopBits());
}

void CComPortLink::configure(int baudRate, char parity, int dataBits, int stopBits) {
    // Start from what the port runs with now: a refused mode leaves it so.
    readLineSettings();
    m_lineSettings.rtsControl = 1;

    QSerialPort::Parity qtParity = QSerialPort::NoParity;
    std::uint8_t parityCodeValue = kParityNone;
    const QString problem = lineProblem(baudRate, parity, dataBits, stopBits);
    if (!problem.isEmpty()) {
        reportError(QStringLiteral("BuildCommDCB()"), problem);
        return;
    }
    toQtParity(parity, qtParity, parityCodeValue);

    m_lineSettings.baudRate = static_cast<std::uint32_t>(baudRate);
    m_lineSettings.dataBits = static_cast<std::uint8_t>(dataBits);
    m_lineSettings.parity = parityCodeValue;
    m_lineSettings.stopBits = stopBits == 2 ? kStopBitsTwo : kStopBitsOne;

    // Each setting on its own, so one the device refuses does not keep the
    // others from the line. The first refusal is reported. A pseudo-terminal
    // carries bytes without line framing: it holds neither parity nor fewer
    // than 8 data bits, and has no modem lines; none of that is a failure
    // there, as the bytes reach the other end all the same.
    const bool pty = serial_platform::isPseudoTerminal(m_port->handle(), deviceName());
    QString failure;
    {
        ExplicitCall guard(m_explicitCalls);
        const auto check = [&](bool applied, bool framing = false) {
            if (!applied && !(framing && pty) && failure.isEmpty())
                failure = m_port->errorString();
        };
        check(m_port->setBaudRate(baudRate));
        check(m_port->setDataBits(static_cast<QSerialPort::DataBits>(dataBits)), true);
        check(m_port->setParity(qtParity), true);
        check(m_port->setStopBits(stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop));
        check(m_port->setFlowControl(QSerialPort::NoFlowControl));
        if (!m_port->setRequestToSend(true) &&
            m_port->error() != QSerialPort::UnsupportedOperationError && !pty)
            check(false);
        m_port->clearError();
    }
    if (failure.isEmpty() && !pty &&
        !serial_platform::lineHolds(m_port->handle(), parityCodeValue, dataBits, stopBits))
        failure = tr("The device does not hold the parity, data bits or stop bits asked for.");
    if (!failure.isEmpty())
        reportError(serial_platform::callName(serial_platform::LineCall::SetLine), failure);
}

QString CComPortLink::lineProblem(int baudRate, char parity, int dataBits, int stopBits) {
    QSerialPort::Parity qtParity = QSerialPort::NoParity;
    std::uint8_t code = kParityNone;
    if (baudRate <= 0)
        return tr("The baud rate %1 is not valid.").arg(baudRate);
    if (!toQtParity(parity, qtParity, code))
        return tr("The parity %1 is not one of N, O, E, M, S.")
            .arg(parity == '\0' ? QStringLiteral("(none)") : QString(QChar::fromLatin1(parity)));
    if (dataBits < 5 || dataBits > 8)
        return tr("The number of data bits %1 is not 5 to 8.").arg(dataBits);
    if (stopBits != 1 && stopBits != 2)
        return tr("The number of stop bits %1 is not 1 or 2.").arg(stopBits);
    return {};
}

LineRequest CComPortLink::networkLine() const {
    LineRequest line;
    if (!lineProblem(m_requested.baudRate, m_requested.parity, m_requested.dataBits, m_requested.stopBits).isEmpty()) {
        // Refused settings leave the line as it ran (or the server's defaults).
        if (m_lineSettings.baudRate > 0) {
            line.baudRate = static_cast<int>(m_lineSettings.baudRate);
            line.dataBits = m_lineSettings.dataBits;
            line.parity = m_lineSettings.parity;
            line.stopBits = m_lineSettings.stopBits;
        }
        return line;
    }
    QSerialPort::Parity qtParity = QSerialPort::NoParity;
    toQtParity(m_requested.parity, qtParity, line.parity);
    line.baudRate = m_requested.baudRate;
    line.dataBits = static_cast<std::uint8_t>(m_requested.dataBits);
    line.stopBits = m_requested.stopBits == 2 ? kStopBitsTwo : kStopBitsOne;
    return line;
}

bool CComPortLink::openNetwork(const QString& device, quint64 generation) {
    QString why;
    const std::optional<NetworkDevice> parsed = parseNetworkDevice(device, &why);
    if (!parsed) {
        dropNetwork();
        m_lastOpenError = why;
        m_lastOpenFailure = OpenFailureKind::BadAddress;
        return false;
    }
    if (const CComPortLink* other = deviceHolder(device)) {
        // Two ports on one server port would share its replies.
        dropNetwork();
        m_lastOpenError = QStringLiteral("already open as COM%1 (%2)").arg(other->portNumber()).arg(other->deviceName());
        m_lastOpenFailure = OpenFailureKind::HeldHere;
        event(QStringLiteral("open failed: ") + m_lastOpenError);
        return false;
    }
    const QString problem = lineProblem(m_requested.baudRate, m_requested.parity, m_requested.dataBits, m_requested.stopBits);
    const LineRequest line = networkLine();
    if (m_net && m_net->isReady() && m_netDevice == device) {
        // The same server, still connected: the line is set anew in place
        // (a new connection could find the server's port still held by the
        // one just dropped). What the port held is dropped, as on reopening.
        if (problem.isEmpty())
            m_net->reconfigure(line);
        m_lineSettings = m_net->lineSettings();
        m_net->purge(true, true);
        if (!problem.isEmpty())
            reportError(QStringLiteral("BuildCommDCB()"), problem);
        return generation == m_generation ? true : isOpen();
    }
    dropNetwork();
    m_net = new NetTransport(*parsed, this);
    m_netDevice = device;
    connect(m_net, &NetTransport::ready, this, &CComPortLink::onNetworkReady);
    connect(m_net, &NetTransport::failed, this, &CComPortLink::onNetworkFailed);
    connect(m_net, &NetTransport::dataArrived, this, &CComPortLink::onReadyRead);
    connect(m_net, &NetTransport::lost, this,
            [this](const QString& text) { deviceGone(QStringLiteral("recv()"), text); });
    connect(m_net, &NetTransport::settingRefused, this, [this](const QString& text) {
        m_lineSettings = m_net->lineSettings();
        if (m_lineHandler)
            m_lineHandler(m_portNumber, text);
    });
    // Told after the handler that reported it has returned.
    connect(m_net, &NetTransport::settingRefused, this,
            [this](const QString& text) {
                if (isOpen())
                    reportError(QStringLiteral("COM-PORT-OPTION"), text);
            },
            Qt::QueuedConnection);
    if (!problem.isEmpty())
        reportError(QStringLiteral("BuildCommDCB()"), problem);
    if (generation != m_generation || !m_net)
        return isOpen();  // a callback of the report reopened or closed the link

    m_connectPending = true;
    m_lastOpenError = tr("connecting\u2026");
    holdDevice(device);  // from the first try on: a second port asking for it is refused
    m_inOpen = true;
    m_net->connectToServer(line);
    m_inOpen = false;
    if (!m_net->isConnecting()) {
        m_connectPending = false;
        return false;  // failed at once; onNetworkFailed kept the reason
    }
    if (!m_waitForConnection)
        return false;
    QEventLoop loop;
    m_openLoop = &loop;
    loop.exec();
    m_openLoop = nullptr;
    return isOpen();
}

void CComPortLink::dropNetwork() {
    m_connectPending = false;
    if (!m_net)
        return;
    disconnect(m_net, nullptr, this, nullptr);
    m_net->close();
    releaseDevice();
    // Later: this may run inside one of its own signals.
    m_net->deleteLater();
    m_net = nullptr;
    m_netDevice.clear();
}

void CComPortLink::onNetworkReady() {
    // What the server set, which may not be what was asked.
    event(QStringLiteral("connected ") + (deviceLine() ? veltra::lineText(*deviceLine()) : lineText()));
    m_connectPending = false;
    m_reconnectTimer->stop();
    const quint64 generation = ++m_generation;
    m_readErrorReported = false;
    m_lastOpenError.clear();
    m_lastOpenFailure = OpenFailureKind::None;
    m_lineSettings = m_net->lineSettings();
    m_net->purge(true, true);
    if (m_openLoop) {
        m_openLoop->quit();  // OpenLink returns true; delivery starts with StartMonitor
        return;
    }
    // Opened by itself, first time or again: delivered from now on, as a
    // serial device that came back.
    m_monitoring = true;
    if (m_reconnectedHandler)
        m_reconnectedHandler(m_portNumber);
    if (generation == m_generation)
        scheduleDrain();
}

void CComPortLink::onNetworkFailed(const QString& reason) {
    m_lastOpenError = reason;
    m_lastOpenFailure = m_net ? m_net->failureKind() : OpenFailureKind::Other;
    releaseDevice();  // held again by the next try
    if (m_connectPending || m_inOpen || m_openLoop || ++m_failedTries == 1 || m_failedTries % 60 == 0)
        event(QStringLiteral("connection failed: ") + reason);
    if (m_inOpen)
        return;  // OpenLink tells it
    if (m_openLoop) {
        m_connectPending = false;
        m_openLoop->quit();
        return;
    }
    if (!m_connectPending)
        return;  // a retry of a lost connection: the next one follows in a second
    m_connectPending = false;
    ++m_generation;
    if (m_closedHandler)
        m_closedHandler(m_portNumber, reason);
}

bool CComPortLink::StartMonitor() {
    if (!isOpen())
        return false;
    m_monitoring = true;
    // Input that came before delivery began is not the owner's.
    purge(QSerialPort::Input);
    scheduleDrain();
    return true;
}

bool CComPortLink::QueueWrite(const quint8* bytes, int length) {
    if (!isOpen())
        return false;
    if (bytes == nullptr || length <= 0) {
        reportError(QStringLiteral("QueueWrite()"), tr("There are no bytes to send."));
        return false;
    }
    if (length > m_sendBufferSize) {
        reportError(QStringLiteral("QueueWrite()"),
                    tr("%1 bytes do not fit the send buffer of %2 bytes.")
                        .arg(length)
                        .arg(m_sendBufferSize));
        return false;
    }
    QByteArray data(reinterpret_cast<const char*>(bytes), length);
    if (m_draining) {
        m_deferredWrites.push_back(std::move(data));
        return true;
    }
    return writeNow(data);
}

bool CComPortLink::writeNow(const QByteArray& data) {
    if (m_net) {
        if (m_dropUnreadOnWrite)
            m_net->purge(true, false);
        if (!m_net->write(data)) {
            reportError(QStringLiteral("send()"), m_net->errorString());
            return false;
        }
        if (m_trafficHandler)
            m_trafficHandler(m_portNumber, true, data);
        return true;
    }
    QString purgeFailure;
    QString writeFailure;
    bool gone = false;
    {
        ExplicitCall guard(m_explicitCalls);
        // Only unread input is dropped: queued output keeps its order.
        if (m_dropUnreadOnWrite && !m_port->clear(QSerialPort::Input)) {
            purgeFailure = m_port->errorString();
            gone = m_port->error() == QSerialPort::ResourceError;
        }
        if (!gone && m_port->write(data) != data.size()) {
            writeFailure = m_port->errorString();
            gone = m_port->error() == QSerialPort::ResourceError;
        }
        // Hand the bytes to the device now rather than on the next pass of
        // the event loop: an answer-paced download waits on every write.
        // What the device cannot take at once goes out as it drains.
        // A line that takes nothing now (its buffer full) keeps the bytes
        // queued: only a device that hung up makes this a failure.
        if (!gone && writeFailure.isEmpty() && !m_port->flush() &&
            m_port->error() == QSerialPort::ResourceError && serial_platform::hungUp(m_port->handle())) {
            writeFailure = m_port->errorString();
            gone = true;
        }
        m_port->clearError();
    }
    if (gone || (!purgeFailure.isEmpty() && serial_platform::hungUp(m_port->handle()))) {
        deviceGone(serial_platform::callName(serial_platform::LineCall::Write), disconnectedText());
        return false;
    }
    if (!purgeFailure.isEmpty())
        reportError(serial_platform::callName(serial_platform::LineCall::Purge), purgeFailure);
    if (!writeFailure.isEmpty()) {
        reportError(serial_platform::callName(serial_platform::LineCall::Write), writeFailure);
        return false;
    }
    if (m_trafficHandler)
        m_trafficHandler(m_portNumber, true, data);
    return true;
}

bool CComPortLink::canDeliver() const {
    return m_monitoring && (m_eventMask & kEvRxChar) != 0 && isOpen() && available() > 0;
}

qint64 CComPortLink::available() const {
    return m_net ? m_net->available() : m_port->bytesAvailable();
}

QByteArray CComPortLink::takeInput() {
    return m_net ? m_net->read() : m_port->read(m_port->bytesAvailable());
}

void CComPortLink::onReadyRead() {
    if (m_draining)
        return;  // the running loop hands these bytes over too
    drainInput();
}

void CComPortLink::drainInput() {
    if (m_monitoring && (m_eventMask & kEvRxChar) == 0 && isOpen()) {
        // Received bytes are not enabled: drop them rather than hoard them.
        const QByteArray dropped = takeInput();
        if (m_trafficHandler && !dropped.isEmpty())
            m_trafficHandler(m_portNumber, false, dropped);
        return;
    }
    if (!canDeliver())
        return;

    m_draining = true;
    bool readFailed = false;
    while (!readFailed && canDeliver()) {
        // One batch per opening: a callback that reopens the link starts a new one.
        const quint64 generation = m_generation;
        if ((m_eventMask & kEvBatch) != 0 && m_batchHandler)
            m_batchHandler(m_portNumber);
        if (generation != m_generation || !canDeliver())
            continue;
        // What has come is taken at once (one chunk); writes a callback asks
        // for wait until the chunk has been handed over, so none is lost to
        // the purge before a write.
        const QByteArray chunk = takeInput();
        if (chunk.isEmpty()) {
            readFailed = true;
            break;
        }
        m_readErrorReported = false;
        if (m_trafficHandler)
            m_trafficHandler(m_portNumber, false, chunk);
        for (const char c : chunk) {
            // A callback that reopened or closed the link ends this opening's bytes.
            if (generation != m_generation || !m_monitoring)
                break;
            if (m_byteHandler)
                m_byteHandler(static_cast<unsigned char>(c), m_portNumber);
        }
    }
    m_draining = false;

    flushDeferredWrites();
    // Bytes read during a nested event loop of a callback got no readyRead.
    scheduleDrain();
}

void CComPortLink::scheduleDrain() {
    if (m_drainScheduled || !canDeliver())
        return;
    m_drainScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_drainScheduled = false;
            if (!m_draining)
                drainInput();
        },
        Qt::QueuedConnection);
}

void CComPortLink::flushDeferredWrites() {
    while (!m_deferredWrites.empty() && !m_draining && isOpen()) {
        const QByteArray data = std::move(m_deferredWrites.front());
        m_deferredWrites.erase(m_deferredWrites.begin());
        writeNow(data);
    }
    if (!isOpen())
        m_deferredWrites.clear();
}

void CComPortLink::onErrorOccurred(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::NoError || m_explicitCalls > 0 || !m_port->isOpen())
        return;
    const QString text = m_port->errorString();
    switch (error) {
    case QSerialPort::ResourceError:
        // The system's own text is often a stale one ("Resource temporarily
        // unavailable"): the device is gone, and that is what is said.
        deviceGone(serial_platform::callName(serial_platform::LineCall::Read), disconnectedText());
        break;
    case QSerialPort::ReadError:
        // A hung-up line reads end-of-file over and over: the device is gone.
        if (serial_platform::hungUp(m_port->handle())) {
            deviceGone(serial_platform::callName(serial_platform::LineCall::Read), disconnectedText());
        } else if (!m_readErrorReported) {
            m_readErrorReported = true;
            reportError(serial_platform::callName(serial_platform::LineCall::Read), text);
        }
        break;
    case QSerialPort::WriteError:
        if (serial_platform::hungUp(m_port->handle()))
            deviceGone(serial_platform::callName(serial_platform::LineCall::Write), disconnectedText());
        else
            reportError(serial_platform::callName(serial_platform::LineCall::Write), text);
        break;
    default:
        break;
    }
}

QString CComPortLink::disconnectedText() { return tr("The device has been disconnected."); }

void CComPortLink::deviceGone(const QString& operation, const QString& text) {
    const quint64 generation = ++m_generation;
    m_monitoring = false;
    m_deferredWrites.clear();
    if (m_net)
        m_net->close();
    {
        ExplicitCall guard(m_explicitCalls);
        m_port->close();
        m_port->clearError();
        releaseDevice();
    }
    event(QStringLiteral("closed: ") + text);
    // Tried again every second at the same path, from now on: the report
    // below may wait in a box for as long as the operator leaves it.
    m_failedTries = 0;
    if (m_reconnect)
        m_reconnectTimer->start();
    reportError(operation, text);
    // Unless a callback of the report has opened the link again meanwhile.
    if (generation == m_generation && m_closedHandler)
        m_closedHandler(m_portNumber, text);
}

void CComPortLink::tryReconnect() {
    if (isOpen()) {
        m_reconnectTimer->stop();
        return;
    }
    if (m_net) {
        // Not back until the connection is made (onNetworkReady); a failed
        // attempt says nothing, and the next follows in a second.
        if (m_net->isConnecting())
            return;
        if (const CComPortLink* other = deviceHolder(m_netDevice)) {
            // Another port took the server meanwhile: it stays with that one.
            if ((++m_failedTries == 1 || m_failedTries % 60 == 0) && m_eventHandler)
                event(QStringLiteral("reconnect try %1 failed: already open as COM%2 (%3)")
                          .arg(m_failedTries)
                          .arg(other->portNumber())
                          .arg(other->deviceName()));
            return;
        }
        holdDevice(m_netDevice);
        m_net->connectToServer(networkLine());
        return;
    }
    {
        ExplicitCall guard(m_explicitCalls);
        m_port->setPortName(deviceName());
        const bool opened = !deviceHolder(deviceName()) && m_port->open(QIODevice::ReadWrite);
        if (!opened && (++m_failedTries == 1 || m_failedTries % 60 == 0) && m_eventHandler)
            event(QStringLiteral("reconnect try %1 failed: %2").arg(m_failedTries).arg(describeOpenFailure(deviceName())));
        m_port->clearError();
        if (!opened)
            return;  // not back yet: no report, another try in a second
    }
    holdDevice(deviceName());
    event(QStringLiteral("reconnected ") + lineText());
    m_reconnectTimer->stop();
    const quint64 generation = ++m_generation;
    m_readErrorReported = false;
    m_lastOpenError.clear();
    m_lastOpenFailure = OpenFailureKind::None;
    configure(m_requested.baudRate, m_requested.parity, m_requested.dataBits, m_requested.stopBits);
    if (generation == m_generation)
        purge(QSerialPort::AllDirections);
    if (generation != m_generation)
        return;  // a callback of an error report reopened or closed the link
    m_monitoring = true;
    if (m_reconnectedHandler)
        m_reconnectedHandler(m_portNumber);
    if (generation == m_generation)
        scheduleDrain();
}

namespace {

// The devices the links of this process hold open, by identity.
QHash<QString, const CComPortLink*>& heldDevices() {
    static QHash<QString, const CComPortLink*> held;
    return held;
}

}  // namespace

namespace {

// A device's identity whatever its name: a server port is one device however
// its host is written (case, IPv6 form) and whichever form reaches it.
QString identityOf(const QString& device) {
    if (!isNetworkDevice(device))
        return serial_platform::deviceIdentity(device);
    const std::optional<NetworkDevice> parsed = parseNetworkDevice(device, nullptr);
    return parsed ? QStringLiteral("net:[%1]:%2").arg(parsed->host.toLower()).arg(parsed->port) : QString();
}

}  // namespace

const CComPortLink* CComPortLink::deviceHolder(const QString& device) const {
    const QString identity = identityOf(device);
    const CComPortLink* holder = identity.isEmpty() ? nullptr : heldDevices().value(identity);
    return holder != this ? holder : nullptr;
}

void CComPortLink::holdDevice(const QString& device) {
    releaseDevice();
    m_heldDevice = identityOf(device);
    if (!m_heldDevice.isEmpty())
        heldDevices().insert(m_heldDevice, this);
}

void CComPortLink::releaseDevice() {
    if (!m_heldDevice.isEmpty() && heldDevices().value(m_heldDevice) == this)
        heldDevices().remove(m_heldDevice);
    m_heldDevice.clear();
}

void CComPortLink::event(const QString& text) {
    if (m_eventHandler)
        m_eventHandler(m_portNumber, text);
}

QString CComPortLink::lineText() const {
    const Requested& r = m_requested;
    const char parity = r.parity >= 'a' && r.parity <= 'z' ? static_cast<char>(r.parity - 'a' + 'A') : r.parity;
    return QStringLiteral("%1 %2%3%4")
        .arg(r.baudRate)
        .arg(r.dataBits)
        .arg(parity > ' ' ? QChar::fromLatin1(parity) : QChar(u'?'))
        .arg(r.stopBits);
}

void CComPortLink::reportError(const QString& operation, const QString& systemText) {
    const QString text = composeLinkErrorText(operation, systemText, m_portNumber);
    if (m_errorReporter)
        m_errorReporter(text);
    else
        qWarning("%s", qUtf8Printable(text));
}

QString CComPortLink::describeOpenFailure(const QString& device) const {
    return openFailureReason(inspectDeviceNode(device), m_port->error(), m_port->errorString());
}

}  // namespace veltra
