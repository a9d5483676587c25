#include "serial/serial_platform.h"

#include "serial/net_transport.h"
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

QString deviceIdentity(const QString& device) {
    // COM3, com3 and \\.\COM3 name one port.
    QString name = device.toUpper();
    if (name.startsWith(QLatin1String("\\\\.\\")))
        name = name.mid(4);
    return name;
}

// COM3 rather than \\.\COM3: the name every program and --device takes.
QString listedName(const QSerialPortInfo& info) { return info.portName(); }
QStringList stableNames(const QSerialPortInfo&) { return {}; }
QString findDeviceHint() { return QStringLiteral("check the COM port's number (veltractl ports lists them)"); }

// COM3 names a port, not a file, and a network device is no path either; a
// name with a folder in it is a file, taken from the working folder.
QString devicePath(const QString& name) {
    const bool path = name.contains(u'/') || name.contains(u'\\');
    return path && !isNetworkDevice(name) ? QFileInfo(name).absoluteFilePath() : name;
}

QString defaultDeviceName(int portNumber) { return QStringLiteral("COM%1").arg(portNumber); }

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
