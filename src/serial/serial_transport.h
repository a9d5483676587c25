#pragma once

#include "serial/transport.h"

#include <QSerialPort>

namespace veltra {

// A serial port through QSerialPort, opened exclusively. What the operating
// system must answer beyond QSerialPort (a hung-up line, a pseudo-terminal,
// the calls named in reports) comes from serial_platform_<platform>.cpp.
class SerialTransport : public Transport {
    Q_OBJECT

public:
    explicit SerialTransport(const QString& device, QObject* parent = nullptr);
    ~SerialTransport() override;

    QString device() const override { return m_device; }
    QString identity() const override;
    OpenResult open(const std::optional<LineRequest>& line) override;
    bool setsLineInPlace() const override { return false; }
    void close() override;
    bool isOpen() const override { return m_port->isOpen(); }
    bool isConnecting() const override { return false; }
    bool lossFollowsWrite() const override { return false; }
    qint64 bytesAvailable() const override { return m_port->bytesAvailable(); }
    QByteArray readAll() override;
    bool write(const QByteArray& data, bool dropUnreadInput) override;
    qint64 bytesToWrite() const override { return m_port->bytesToWrite(); }
    void purge(bool input, bool output) override;
    PortSettings lineSettings() const override { return m_lineSettings; }
    std::optional<ServerLine> deviceLine() const override;

private:
    void onErrorOccurred(QSerialPort::SerialPortError error);
    // Sets the line; the first setting the device refuses, or nothing.
    std::optional<Problem> configure(const std::optional<LineRequest>& line);
    void readLineSettings();
    void gone(const QString& operation);

    QString m_device;
    QSerialPort* m_port;  // child; one object for the transport's life, reopened in place
    PortSettings m_lineSettings;
    int m_explicitCalls = 0;           // errors of calls checked here are not told twice
    bool m_readErrorReported = false;  // one failed read told until a byte gets through again
};

}  // namespace veltra
