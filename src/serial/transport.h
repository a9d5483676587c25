#pragma once

#include "serial/open_failure.h"
#include "serial/port_settings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace veltra {

// Line settings asked of a device (codes of port_settings.h).
struct LineRequest {
    int baudRate = 9600;
    std::uint8_t dataBits = 8;
    std::uint8_t parity = kParityNone;
    std::uint8_t stopBits = kStopBitsOne;
};

// The line as a device has it, in RFC 2217's codes, any value a server
// answers kept as it came: its answers, and what was asked where it gave none.
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

// One device a link talks to: a serial port (SerialTransport) or a port
// behind a terminal server (NetTransport). The link above it (CComPortLink)
// does delivery, re-entrancy and reconnecting the same way for each; what
// differs between them is here.
//
// Failures are told by signals, emitted synchronously from the call that met
// them (a write, a purge) or from the event loop. Every receiver may run a
// nested event loop, so a transport never relies on its state after an
// emit. None deletes a transport from its own signal (deleteLater).
//
// SIGPIPE: no transport handles it itself. Qt's socket engine sets it to
// ignored for the whole process before its first write to a socket, so a
// write to a connection the server has closed fails (EPIPE, told as lost())
// rather than ending the program; a serial device that hung up fails its
// writes with EIO and raises no signal. (The traffic log and the simulator
// ignore SIGPIPE themselves, for their own pipes.)
class Transport : public QObject {
    Q_OBJECT

public:
    enum class Outcome {
        Opened,      // open now, the line set (or refused, see OpenResult::problems)
        Connecting,  // opened() or failed() follows from the event loop
        Failed,      // cannot be opened; nothing follows
    };
    // A problem met while opening, reported as "<operation> Failed with ...":
    // the device is open all the same.
    struct Problem {
        QString operation;
        QString text;
    };
    struct OpenResult {
        Outcome outcome = Outcome::Failed;
        OpenFailureKind kind = OpenFailureKind::None;  // for Failed
        QString reason;                                // for Failed, in a few words
        std::vector<Problem> problems;                 // for Opened
    };

    using QObject::QObject;

    // The reason lost() gives for a serial device that went away.
    static QString disconnectedText();

    // The device name this transport was made for, as given.
    virtual QString device() const = 0;
    // What tells this device from another whatever name reaches it, for the
    // process's held devices; empty where it cannot be told.
    virtual QString identity() const = 0;

    // Opens the device with `line` (nothing: the line as it runs), or starts
    // connecting to it. An open transport is closed first, unless
    // setsLineInPlace(): then only the line is set anew, the input dropped.
    virtual OpenResult open(const std::optional<LineRequest>& line) = 0;
    // A transport that is open takes a new line without reopening (a network
    // connection: a new one could find the server's port still held by the
    // old one).
    virtual bool setsLineInPlace() const = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual bool isConnecting() const = 0;
    // A device lost while a write goes out is heard of from the events due
    // after it (a connection the server closed), rather than failing the
    // write itself (a serial device that went away).
    virtual bool lossFollowsWrite() const = 0;

    virtual qint64 bytesAvailable() const = 0;
    virtual QByteArray readAll() = 0;
    // Queues `data` for the device after dropping unread input if asked;
    // false (told by error() or lost()) when that failed.
    virtual bool write(const QByteArray& data, bool dropUnreadInput) = 0;
    virtual qint64 bytesToWrite() const = 0;
    // Drops what the device holds in these directions; a failure is told by error().
    virtual void purge(bool input, bool output) = 0;

    // The line as set (what the device confirmed where it answers).
    virtual PortSettings lineSettings() const = 0;
    // The line as the device has it, in RFC 2217's codes; nothing where the
    // device does not tell (raw TCP: the server's own line).
    virtual std::optional<ServerLine> deviceLine() const = 0;

signals:
    void readyRead();
    // A Connecting open is ready (the line as the device answered it).
    void opened();
    // A Connecting open gave up.
    void failed(veltra::OpenFailureKind kind, const QString& reason);
    // The device went away after it was open; the transport is closed.
    void lost(const QString& operation, const QString& text);
    // A failure the device stays open after.
    void error(const QString& operation, const QString& text);
    // The device put another line in place than the one asked (or took none of it).
    void lineChanged(const QString& text);
};

// The transport for a device name: socket:// and rfc2217:// are network
// ports, anything else a serial port.
Transport* makeTransport(const QString& device, QObject* parent = nullptr);

}  // namespace veltra
