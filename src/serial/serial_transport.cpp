#include "serial/serial_transport.h"

#include "serial/device_node.h"
#include "serial/serial_platform.h"

namespace veltra {

namespace {

using serial_platform::callName;
using serial_platform::LineCall;

// Marks a stretch in which the transport checks QSerialPort's results
// itself, so errorOccurred from those calls is not told a second time.
class ExplicitCall {
public:
    explicit ExplicitCall(int& counter) : m_counter(counter) { ++m_counter; }
    ~ExplicitCall() { --m_counter; }
    ExplicitCall(const ExplicitCall&) = delete;
    ExplicitCall& operator=(const ExplicitCall&) = delete;

private:
    int& m_counter;
};

QSerialPort::Parity qtParity(std::uint8_t code) {
    switch (code) {
    case kParityOdd: return QSerialPort::OddParity;
    case kParityEven: return QSerialPort::EvenParity;
    case kParityMark: return QSerialPort::MarkParity;
    case kParitySpace: return QSerialPort::SpaceParity;
    default: return QSerialPort::NoParity;
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

// Bytes QSerialPort may hold while the link does not read (a box opened
// from a byte handler); beyond that the line waits in the driver, so memory
// stays bounded.
constexpr qint64 kReadBufferLimit = qint64{1} << 20;

}  // namespace

SerialTransport::SerialTransport(const QString& device, QObject* parent)
    : Transport(parent), m_device(device), m_port(new QSerialPort(this)) {
    m_port->setReadBufferSize(kReadBufferLimit);
    connect(m_port, &QSerialPort::readyRead, this, &Transport::readyRead);
    connect(m_port, &QSerialPort::errorOccurred, this, &SerialTransport::onErrorOccurred);
}

SerialTransport::~SerialTransport() {
    disconnect(m_port, nullptr, this, nullptr);
}

QString SerialTransport::identity() const { return serial_platform::deviceIdentity(m_device); }

Transport::OpenResult SerialTransport::open(const std::optional<LineRequest>& line) {
    close();
    {
        ExplicitCall guard(m_explicitCalls);
        m_port->setPortName(m_device);
        if (!m_port->open(QIODevice::ReadWrite)) {
            const DeviceNode node = inspectDeviceNode(m_device);
            OpenResult failed{Outcome::Failed, openFailureKind(node, m_port->error()),
                              openFailureReason(node, m_port->error(), m_port->errorString()), {}};
            m_port->clearError();
            return failed;
        }
    }
    m_readErrorReported = false;
    OpenResult opened{Outcome::Opened, OpenFailureKind::None, {}, {}};
    if (std::optional<Problem> problem = configure(line))
        opened.problems.push_back(std::move(*problem));
    return opened;
}

void SerialTransport::close() {
    ExplicitCall guard(m_explicitCalls);
    if (m_port->isOpen()) {
        // One last non-blocking push of queued output; what the line cannot
        // take now is dropped with the port.
        m_port->flush();
        m_port->close();
    }
    m_port->clearError();
}

void SerialTransport::readLineSettings() {
    const qint32 baud = m_port->baudRate();
    m_lineSettings.baudRate = baud > 0 ? static_cast<std::uint32_t>(baud) : 0u;
    m_lineSettings.dataBits = static_cast<std::uint8_t>(m_port->dataBits());
    m_lineSettings.parity = parityCode(m_port->parity());
    m_lineSettings.stopBits = stopBitsCode(m_port->stopBits());
}

std::optional<Transport::Problem> SerialTransport::configure(const std::optional<LineRequest>& line) {
    // Start from what the port runs with now: a refused mode leaves it so.
    readLineSettings();
    m_lineSettings.rtsControl = 1;
    if (!line)
        return std::nullopt;
    m_lineSettings.baudRate = static_cast<std::uint32_t>(line->baudRate);
    m_lineSettings.dataBits = line->dataBits;
    m_lineSettings.parity = line->parity;
    m_lineSettings.stopBits = line->stopBits;

    // Each setting on its own, so one the device refuses does not keep the
    // others from the line. The first refusal is told. A pseudo-terminal
    // carries bytes without line framing: it holds neither parity nor fewer
    // than 8 data bits, and has no modem lines; none of that is a failure
    // there, as the bytes reach the other end all the same.
    const bool pty = serial_platform::isPseudoTerminal(m_port->handle(), m_device);
    const int stopBits = line->stopBits == kStopBitsTwo ? 2 : 1;
    QString failure;
    {
        ExplicitCall guard(m_explicitCalls);
        const auto check = [&](bool applied, bool framing = false) {
            if (!applied && !(framing && pty) && failure.isEmpty())
                failure = m_port->errorString();
        };
        check(m_port->setBaudRate(line->baudRate));
        check(m_port->setDataBits(static_cast<QSerialPort::DataBits>(line->dataBits)), true);
        check(m_port->setParity(qtParity(line->parity)), true);
        check(m_port->setStopBits(stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop));
        check(m_port->setFlowControl(QSerialPort::NoFlowControl));
        if (!m_port->setRequestToSend(true) && m_port->error() != QSerialPort::UnsupportedOperationError && !pty)
            check(false);
        m_port->clearError();
    }
    if (failure.isEmpty() && !pty && !serial_platform::lineHolds(m_port->handle(), line->parity, line->dataBits, stopBits))
        failure = tr("The device does not hold the parity, data bits or stop bits asked for.");
    if (failure.isEmpty())
        return std::nullopt;
    return Problem{callName(LineCall::SetLine), failure};
}

std::optional<ServerLine> SerialTransport::deviceLine() const {
    return isOpen() ? std::optional(serverLineOf(m_lineSettings)) : std::nullopt;
}

QByteArray SerialTransport::readAll() {
    QByteArray chunk = m_port->read(m_port->bytesAvailable());
    if (!chunk.isEmpty())
        m_readErrorReported = false;
    return chunk;
}

void SerialTransport::purge(bool input, bool output) {
    QSerialPort::Directions directions;
    if (input) directions |= QSerialPort::Input;
    if (output) directions |= QSerialPort::Output;
    QString failure;
    {
        ExplicitCall guard(m_explicitCalls);
        if (!m_port->clear(directions))
            failure = m_port->errorString();
        m_port->clearError();
    }
    if (!failure.isEmpty())
        emit error(callName(LineCall::Purge), failure);
}

bool SerialTransport::write(const QByteArray& data, bool dropUnreadInput) {
    QString purgeFailure;
    QString writeFailure;
    bool isGone = false;
    {
        ExplicitCall guard(m_explicitCalls);
        // Only unread input is dropped: queued output keeps its order.
        if (dropUnreadInput && !m_port->clear(QSerialPort::Input)) {
            purgeFailure = m_port->errorString();
            isGone = m_port->error() == QSerialPort::ResourceError;
        }
        if (!isGone && m_port->write(data) != data.size()) {
            writeFailure = m_port->errorString();
            isGone = m_port->error() == QSerialPort::ResourceError;
        }
        // Hand the bytes to the device now rather than on the next pass of
        // the event loop: an answer-paced download waits on every write.
        // What the device cannot take at once goes out as it drains.
        // A line that takes nothing now (its buffer full) keeps the bytes
        // queued: only a device that hung up makes this a failure.
        if (!isGone && writeFailure.isEmpty() && !m_port->flush() &&
            m_port->error() == QSerialPort::ResourceError && serial_platform::hungUp(m_port->handle())) {
            writeFailure = m_port->errorString();
            isGone = true;
        }
        m_port->clearError();
    }
    if (isGone || (!purgeFailure.isEmpty() && serial_platform::hungUp(m_port->handle()))) {
        gone(callName(LineCall::Write));
        return false;
    }
    if (!purgeFailure.isEmpty())
        emit error(callName(LineCall::Purge), purgeFailure);
    if (!writeFailure.isEmpty()) {
        emit error(callName(LineCall::Write), writeFailure);
        return false;
    }
    return true;
}

void SerialTransport::gone(const QString& operation) {
    close();
    emit lost(operation, disconnectedText());
}

void SerialTransport::onErrorOccurred(QSerialPort::SerialPortError err) {
    if (err == QSerialPort::NoError || m_explicitCalls > 0 || !m_port->isOpen())
        return;
    const QString text = m_port->errorString();
    switch (err) {
    case QSerialPort::ResourceError:
        // The system's own text is often a stale one ("Resource temporarily
        // unavailable"): the device is gone, and that is what is said.
        gone(callName(LineCall::Read));
        break;
    case QSerialPort::ReadError:
        // A hung-up line reads end-of-file over and over: the device is gone.
        if (serial_platform::hungUp(m_port->handle())) {
            gone(callName(LineCall::Read));
        } else if (!m_readErrorReported) {
            m_readErrorReported = true;
            emit error(callName(LineCall::Read), text);
        }
        break;
    case QSerialPort::WriteError:
        if (serial_platform::hungUp(m_port->handle()))
            gone(callName(LineCall::Write));
        else
            emit error(callName(LineCall::Write), text);
        break;
    default:
        break;
    }
}

}  // namespace veltra
