#pragma once

#include "serial/device_node.h"

#include <QSerialPort>
#include <QString>

namespace veltra {

// Why `device` did not open, in a few words: "does not exist", "permission
// denied — add your user to the dialout group", "in use by another program",
// "not a serial device (a regular file)", "cannot be opened: <system text>".
// The dialout advice is given only for a character device of that group the
// user may not open.
QString openFailureReason(const DeviceNode& node, QSerialPort::SerialPortError error, const QString& systemText);

// One line per port that did not open: "COM1 (/dev/ttyUSB0): <reason>".
QString portFailureLine(int port, const QString& device, const QString& reason);

}  // namespace veltra
