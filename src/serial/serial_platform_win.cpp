#include "serial/serial_platform.h"
#include "serial/device_node.h"

#include <QFileInfo>

namespace veltra::serial_platform {

// Windows has no pseudo-terminals among its COM ports, keeps the framing it
// accepts, reports a removed device through the port's own errors, and
// tells a refused open by the port's error alone.
bool isPseudoTerminal(NativeHandle, const QString&) { return false; }
bool lineHolds(NativeHandle, std::uint8_t, int, int) { return true; }
bool hungUp(NativeHandle) { return false; }
QString callName(LineCall call) {
    switch (call) {
    case LineCall::Read: return QStringLiteral("ReadFile()");
    case LineCall::Write: return QStringLiteral("WriteFile()");
    case LineCall::Purge: return QStringLiteral("PurgeComm()");
    case LineCall::SetLine: return QStringLiteral("SetCommState()");
    }
    return {};
}

bool lacksPermission(const QString&, QString*) { return false; }
QString deviceIdentity(const QString& device) {
    // COM3, com3 and \\.\COM3 name one port.
    QString name = device.toUpper();
    if (name.startsWith(QLatin1String("\\\\.\\")))
        name = name.mid(4);
    return name;
}

}  // namespace veltra::serial_platform

namespace veltra {

// Port names such as COM3 are no paths here: only a missing path is told apart.
DeviceNode inspectDeviceNode(const QString& path) {
    DeviceNode node;
    if (path.contains(u'/') && !QFileInfo::exists(path))
        node.kind = DeviceNode::Kind::Missing;
    return node;
}

// Windows ports are held by their open handle alone: no lock files.
QString deviceLockFile(const QString&) { return {}; }
bool lockFileIsStale(const QString&) { return false; }

}  // namespace veltra
