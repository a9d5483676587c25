#pragma once

#include "serial/device_node.h"

#include <QSerialPort>
#include <QString>

namespace veltra {

// What kept a device from opening, decided where the failure is known (never
// read back from its text).
enum class OpenFailureKind {
    None,
    Missing,      // no such device
    Permission,   // the user may not open it
    InUse,        // another program holds it
    HeldHere,     // another port of this program holds it
    NotSerial,    // a file or folder, not a serial device
    BadAddress,   // a network device name that is not one
    Refused,      // nothing listens at that network port
    Unreachable,  // no route, host name unknown
    TimedOut,     // the server does not answer
    TurnedAway,   // the server closed the connection at once
    Other,
};

OpenFailureKind openFailureKind(const DeviceNode& node, QSerialPort::SerialPortError error);

// Why `device` did not open, in a few words: "does not exist", "permission
// denied — add your user to the dialout group", "in use by another program",
// "not a serial device (a regular file)", "cannot be opened: <system text>".
// The dialout advice is given only for a character device of that group the
// user may not open.
QString openFailureReason(const DeviceNode& node, QSerialPort::SerialPortError error, const QString& systemText);

// One line per port that did not open: "COM1 (/dev/ttyUSB0): <reason>".
QString portFailureLine(int port, const QString& device, const QString& reason);

}  // namespace veltra
