#include "serial/ccomportlink.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <QtGlobal>

namespace veltra {

namespace {

constexpr int kReconnectIntervalMs = 1000;

std::optional<std::uint8_t> parityCodeOf(char parity) {
    switch (parity) {
    case 'N': case 'n': return kParityNone;
    case 'O': case 'o': return kParityOdd;
    case 'E': case 'e': return kParityEven;
    case 'M': case 'm': return kParityMark;
    case 'S': case 's': return kParitySpace;
    default: return std::nullopt;
    }
}

// Told once a minute while the tries go on (one a second), and the first.
bool toldThisTry(int tries) { return tries == 1 || tries % 60 == 0; }

}  // namespace

QString composeLinkErrorText(const QString& operation, const QString& systemText, int portNumber) {
    return QString::asprintf("WARNING:  %s Failed with the following error: \n%s\nPort: %d\n",
                             operation.toUtf8().constData(), systemText.toUtf8().constData(),
                             portNumber);
}

HeldDevices& HeldDevices::process() {
    static HeldDevices held;
    return held;
}

void HeldDevices::release(const QString& identity, const CComPortLink* link) {
    if (m_held.value(identity) == link)
        m_held.remove(identity);
}

CComPortLink::CComPortLink(QObject* parent)
    : QObject(parent), m_makeTransport(makeTransport), m_held(&HeldDevices::process()),
      m_reconnectTimer(new QTimer(this)) {
    m_reconnectTimer->setInterval(kReconnectIntervalMs);
    connect(m_reconnectTimer, &QTimer::timeout, this, &CComPortLink::tryReconnect);
}

CComPortLink::~CComPortLink() {
    // No callback runs from here on. One last non-blocking push of queued
    // output (the transport's close); whatever the line cannot take now is
    // dropped with it.
    m_monitoring = false;
    m_deferredWrites.clear();
    m_reconnectTimer->stop();
    if (m_transport) {
        disconnect(m_transport, nullptr, this, nullptr);
        m_transport->close();
    }
    releaseDevice();
}

bool CComPortLink::isOpen() const {
    return m_transport && m_transport->isOpen();
}

std::optional<ServerLine> CComPortLink::deviceLine() const {
    return isOpen() ? m_transport->deviceLine() : std::nullopt;
}

bool CComPortLink::isReconnecting() const {
    return m_reconnectTimer->isActive();
}

qint64 CComPortLink::bytesToWrite() const {
    qint64 n = m_transport ? m_transport->bytesToWrite() : 0;
    for (const QByteArray& d : m_deferredWrites) n += d.size();
    return n;
}

QString CComPortLink::deviceName() const {
    return m_deviceName.isEmpty() ? defaultDeviceName(m_portNumber) : m_deviceName;
}

Transport* CComPortLink::transportFor(const QString& device) {
    if (m_transport && m_transport->device() == device)
        return m_transport;
    dropTransport();
    m_transport = m_makeTransport(device, this);
    connect(m_transport, &Transport::readyRead, this, &CComPortLink::onReadyRead);
    connect(m_transport, &Transport::opened, this, &CComPortLink::onConnected);
    connect(m_transport, &Transport::failed, this, &CComPortLink::onConnectFailed);
    connect(m_transport, &Transport::lost, this, &CComPortLink::deviceGone);
    connect(m_transport, &Transport::error, this, &CComPortLink::reportError);
    connect(m_transport, &Transport::lineChanged, this, &CComPortLink::onLineChanged);
    // Told after the handler that reported it has returned.
    connect(m_transport, &Transport::lineChanged, this,
            [this](const QString& text) {
                if (isOpen())
                    reportError(QStringLiteral("COM-PORT-OPTION"), text);
            },
            Qt::QueuedConnection);
    return m_transport;
}

void CComPortLink::dropTransport() {
    m_connectPending = false;
    if (!m_transport)
        return;
    disconnect(m_transport, nullptr, this, nullptr);
    m_transport->close();
    releaseDevice();
    // Later: this may run inside one of its own signals.
    m_transport->deleteLater();
    m_transport = nullptr;
}

bool CComPortLink::OpenLink(int portNumber, int baudRate, char parity, int dataBits, int stopBits,
                            quint32 eventMask, int sendBufferSize) {
    const quint64 generation = ++m_generation;
    m_monitoring = false;
    m_deferredWrites.clear();
    m_reconnectTimer->stop();  // the operator's own choice replaces any retrying
    m_connectPending = false;
    m_requested = Requested{baudRate, parity, dataBits, stopBits};
    m_portNumber = portNumber;
    m_eventMask = eventMask;
    m_sendBufferSize = sendBufferSize;
    m_lastOpenError.clear();
    m_lastOpenFailure = OpenFailureKind::None;

    const QString device = deviceName();
    // A connection to the same server takes the new line in place; anything
    // else open is closed first.
    if (m_transport && m_transport->isOpen() &&
        !(m_transport->device() == device && m_transport->setsLineInPlace())) {
        m_transport->close();
        releaseDevice();
        event(QStringLiteral("closed: reopening"));
    }
    Transport* transport = transportFor(device);
    if (const CComPortLink* other = deviceHolder()) {
        transport->close();
        releaseDevice();
        m_lastOpenError = heldElsewhereText(other);
        m_lastOpenFailure = OpenFailureKind::HeldHere;
        event(QStringLiteral("open failed: ") + m_lastOpenError);
        return false;
    }
    const bool inPlace = transport->isOpen();
    holdDevice();  // from the first try on: a second port asking for it is refused
    const Transport::OpenResult result = transport->open(requestedLine());
    switch (result.outcome) {
    case Transport::Outcome::Failed:
        // Opening failures show no box; the caller shows the port as closed.
        releaseDevice();
        m_lastOpenError = result.reason;
        m_lastOpenFailure = result.kind;
        event(QStringLiteral("open failed: ") + m_lastOpenError);
        return false;
    case Transport::Outcome::Opened:
        if (!inPlace)
            event(QStringLiteral("opened ") + lineText());
        return finishOpen(generation, result.problems) ? true : isOpen();
    case Transport::Outcome::Connecting:
        break;
    }

    m_connectPending = true;
    m_lastOpenError = tr("connecting\u2026");
    const QString problem = lineProblem(baudRate, parity, dataBits, stopBits);
    if (!problem.isEmpty())
        reportError(QStringLiteral("OpenLink()"), problem);
    if (generation != m_generation || !m_connectPending || !m_waitForConnection)
        return generation != m_generation && isOpen();  // not yet, or a callback of the report reopened
    QEventLoop loop;
    m_openLoop = &loop;
    loop.exec();
    m_openLoop = nullptr;
    return isOpen();
}

bool CComPortLink::finishOpen(quint64 generation, const std::vector<Transport::Problem>& problems) {
    m_lineSettings = m_transport->lineSettings();
    const QString problem = lineProblem(m_requested.baudRate, m_requested.parity, m_requested.dataBits,
                                        m_requested.stopBits);
    if (!problem.isEmpty())
        reportError(QStringLiteral("OpenLink()"), problem);
    for (const Transport::Problem& p : problems) {
        if (generation != m_generation)
            return false;  // a callback of an error report reopened or closed the link
        reportError(p.operation, p.text);
    }
    if (generation != m_generation)
        return false;
    m_transport->purge(true, true);
    return generation == m_generation;
}

std::optional<LineRequest> CComPortLink::requestedLine() const {
    const Requested& r = m_requested;
    if (!lineProblem(r.baudRate, r.parity, r.dataBits, r.stopBits).isEmpty())
        return std::nullopt;
    LineRequest line;
    line.baudRate = r.baudRate;
    line.parity = *parityCodeOf(r.parity);
    line.dataBits = static_cast<std::uint8_t>(r.dataBits);
    line.stopBits = r.stopBits == 2 ? kStopBitsTwo : kStopBitsOne;
    return line;
}

QString CComPortLink::lineProblem(int baudRate, char parity, int dataBits, int stopBits) {
    if (baudRate <= 0)
        return tr("The baud rate %1 is not valid.").arg(baudRate);
    if (!parityCodeOf(parity))
        return tr("The parity %1 is not one of N, O, E, M, S.")
            .arg(parity == '\0' ? QStringLiteral("(none)") : QString(QChar::fromLatin1(parity)));
    if (dataBits < 5 || dataBits > 8)
        return tr("The number of data bits %1 is not 5 to 8.").arg(dataBits);
    if (stopBits != 1 && stopBits != 2)
        return tr("The number of stop bits %1 is not 1 or 2.").arg(stopBits);
    return {};
}

void CComPortLink::onConnected() {
    // What the device set, which may not be what was asked.
    event(QStringLiteral("connected ") + (deviceLine() ? veltra::lineText(*deviceLine()) : lineText()));
    m_connectPending = false;
    m_reconnectTimer->stop();
    const quint64 generation = ++m_generation;
    m_lastOpenError.clear();
    m_lastOpenFailure = OpenFailureKind::None;
    m_lineSettings = m_transport->lineSettings();
    m_transport->purge(true, true);
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

void CComPortLink::onConnectFailed(OpenFailureKind kind, const QString& reason) {
    m_lastOpenError = reason;
    m_lastOpenFailure = kind;
    releaseDevice();  // held again by the next try
    if (m_connectPending || m_openLoop || toldThisTry(++m_failedTries))
        event(QStringLiteral("connection failed: ") + reason);
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

void CComPortLink::onLineChanged(const QString& text) {
    m_lineSettings = m_transport->lineSettings();
    if (m_lineHandler)
        m_lineHandler(m_portNumber, text);
}

bool CComPortLink::StartMonitor() {
    if (!isOpen())
        return false;
    m_monitoring = true;
    // Input that came before delivery began is not the owner's.
    m_transport->purge(true, false);
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
    // A failure is told by the transport (reported, or the device gone).
    if (!m_transport->write(data, m_dropUnreadOnWrite))
        return false;
    if (m_trafficHandler)
        m_trafficHandler(m_portNumber, true, data);
    return true;
}

bool CComPortLink::canDeliver() const {
    return m_monitoring && (m_eventMask & kEvRxChar) != 0 && isOpen() && m_transport->bytesAvailable() > 0;
}

void CComPortLink::onReadyRead() {
    if (m_draining)
        return;  // the running loop hands these bytes over too
    drainInput();
}

void CComPortLink::drainInput() {
    if (!canDeliver())
        return;

    m_draining = true;
    while (canDeliver()) {
        // One batch per opening: a callback that reopens the link starts a new one.
        const quint64 generation = m_generation;
        if ((m_eventMask & kEvBatch) != 0 && m_batchHandler)
            m_batchHandler(m_portNumber);
        if (generation != m_generation || !canDeliver())
            continue;
        // What has come is taken at once (one chunk); writes a callback asks
        // for wait until the chunk has been handed over, so none is lost to
        // the purge before a write.
        const QByteArray chunk = m_transport->readAll();
        if (chunk.isEmpty())
            break;  // a failed read, told by the transport
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

void CComPortLink::deviceGone(const QString& operation, const QString& text) {
    const quint64 generation = ++m_generation;
    m_monitoring = false;
    m_deferredWrites.clear();
    m_transport->close();
    releaseDevice();
    event(QStringLiteral("closed: ") + text);
    // Tried again every second at the same device, from now on: the report
    // below may wait in a box for as long as the operator leaves it.
    m_failedTries = 0;
    m_reconnectTimer->start();
    reportError(operation, text);
    // Unless a callback of the report has opened the link again meanwhile.
    if (generation == m_generation && m_closedHandler)
        m_closedHandler(m_portNumber, text);
}

void CComPortLink::reconnectFailed(const QString& reason) {
    if (toldThisTry(++m_failedTries))
        event(QStringLiteral("reconnect try %1 failed: %2").arg(m_failedTries).arg(reason));
}

void CComPortLink::tryReconnect() {
    if (isOpen() || !m_transport) {
        m_reconnectTimer->stop();
        return;
    }
    // A connection being made is not back until it is (onConnected); its
    // failure says nothing but the first and one a minute.
    if (m_transport->isConnecting())
        return;
    if (const CComPortLink* other = deviceHolder()) {
        // Another port took the device meanwhile: it stays with that one.
        reconnectFailed(heldElsewhereText(other));
        return;
    }
    holdDevice();
    const Transport::OpenResult result = m_transport->open(requestedLine());
    if (result.outcome == Transport::Outcome::Failed) {
        releaseDevice();
        reconnectFailed(result.reason);  // not back yet: no report, another try in a second
        return;
    }
    if (result.outcome == Transport::Outcome::Connecting)
        return;
    event(QStringLiteral("reconnected ") + lineText());
    m_reconnectTimer->stop();
    const quint64 generation = ++m_generation;
    m_lastOpenError.clear();
    m_lastOpenFailure = OpenFailureKind::None;
    if (!finishOpen(generation, result.problems))
        return;  // a callback of an error report reopened or closed the link
    m_monitoring = true;
    if (m_reconnectedHandler)
        m_reconnectedHandler(m_portNumber);
    if (generation == m_generation)
        scheduleDrain();
}

const CComPortLink* CComPortLink::deviceHolder() const {
    const QString identity = m_transport->identity();
    const CComPortLink* holder = identity.isEmpty() ? nullptr : m_held->holder(identity);
    return holder != this ? holder : nullptr;
}

QString CComPortLink::heldElsewhereText(const CComPortLink* other) const {
    return QStringLiteral("already open as COM%1 (%2)").arg(other->portNumber()).arg(other->deviceName());
}

void CComPortLink::holdDevice() {
    releaseDevice();
    m_heldDevice = m_transport->identity();
    if (!m_heldDevice.isEmpty())
        m_held->hold(m_heldDevice, this);
}

void CComPortLink::releaseDevice() {
    if (!m_heldDevice.isEmpty())
        m_held->release(m_heldDevice, this);
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

}  // namespace veltra
