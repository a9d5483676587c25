#include "serial/open_failure.h"

namespace veltra {

OpenFailureKind openFailureKind(const DeviceNode& node, QSerialPort::SerialPortError error) {
    using Kind = DeviceNode::Kind;
    if (node.kind == Kind::Missing || error == QSerialPort::DeviceNotFoundError) return OpenFailureKind::Missing;
    if (node.kind == Kind::Other) return OpenFailureKind::NotSerial;
    if (error == QSerialPort::PermissionError || !node.readWritable)
        return node.readWritable ? OpenFailureKind::InUse : OpenFailureKind::Permission;
    return OpenFailureKind::Other;
}

QString openFailureReason(const DeviceNode& node, QSerialPort::SerialPortError error, const QString& systemText) {
    using Kind = DeviceNode::Kind;
    if (node.kind == Kind::Missing || error == QSerialPort::DeviceNotFoundError)
        return QStringLiteral("does not exist");
    if (node.kind == Kind::Other)
        return QStringLiteral("not a serial device (%1)").arg(node.typeName);
    if (error == QSerialPort::PermissionError || !node.readWritable) {
        // A device the user may open, refused all the same, is held by
        // another program (its lock file or exclusive open).
        if (node.readWritable && !node.staleLock.isEmpty())
            return QStringLiteral("locked by the stale lock file %1 of a program that has ended, which cannot be "
                                  "removed \u2014 remove that file (as its owner or with sudo)")
                .arg(node.staleLock);
        if (node.readWritable)
            return QStringLiteral("in use by another program");
        if (node.kind == Kind::CharDevice && node.group == QLatin1String("dialout"))
            return QStringLiteral("permission denied \u2014 add your user to the dialout group "
                                  "(sudo usermod -aG dialout $USER, then log in again)");
        return node.group.isEmpty() ? QStringLiteral("permission denied")
                                    : QStringLiteral("permission denied (group %1)").arg(node.group);
    }
    return systemText.isEmpty() ? QStringLiteral("cannot be opened")
                                : QStringLiteral("cannot be opened: %1").arg(systemText);
}

QString portFailureLine(int port, const QString& device, const QString& reason) {
    return QStringLiteral("COM%1 (%2): %3").arg(port).arg(device, reason);
}

}  // namespace veltra
