#include "serial/serial_platform.h"

#include "serial/net_transport.h"
#include "serial/device_node.h"
#include "serial/port_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>

#include <cerrno>
#include <csignal>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/sysmacros.h>
#endif

namespace veltra::serial_platform {

bool isPseudoTerminal(NativeHandle handle, const QString& device) {
    if (device.startsWith(QLatin1String("/dev/pts/")))
        return true;
#ifdef __linux__
    struct stat st {};
    if (::fstat(handle, &st) == 0 && S_ISCHR(st.st_mode)) {
        const unsigned int m = major(st.st_rdev);
        if (m >= 136 && m <= 143)  // Unix98 pty slaves
            return true;
    }
#else
    (void)handle;
#endif
    return false;
}

bool lineHolds(NativeHandle handle, std::uint8_t parityCode, int dataBits, int stopBits) {
    termios t{};
    if (::tcgetattr(handle, &t) != 0 || dataBits < 5 || dataBits > 8)
        return true;
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    return ((t.c_cflag & PARENB) != 0) == (parityCode != kParityNone) &&
           (t.c_cflag & CSIZE) == sizes[dataBits - 5] && ((t.c_cflag & CSTOPB) != 0) == (stopBits == 2);
}

bool hungUp(NativeHandle handle) {
    pollfd p{};
    p.fd = handle;
    p.events = POLLIN;
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

QString callName(LineCall call) {
    switch (call) {
    case LineCall::Read: return QStringLiteral("read()");
    case LineCall::Write: return QStringLiteral("write()");
    case LineCall::Purge: return QStringLiteral("tcflush()");
    case LineCall::SetLine: return QStringLiteral("tcsetattr()");
    }
    return {};
}

QString deviceIdentity(const QString& device) {
    struct stat st {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return {};
    if (S_ISCHR(st.st_mode))
        return QStringLiteral("c%1").arg(static_cast<qulonglong>(st.st_rdev));
    return QStringLiteral("f%1:%2").arg(static_cast<qulonglong>(st.st_dev)).arg(static_cast<qulonglong>(st.st_ino));
}

QString listedName(const QSerialPortInfo& info) { return info.systemLocation(); }

QStringList stableNames(const QSerialPortInfo& info) {
    QStringList names;
    const QString device = QFileInfo(info.systemLocation()).canonicalFilePath();
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        if (link.canonicalFilePath() == device) names.push_back(link.absoluteFilePath());
    return names;
}

QString findDeviceHint() { return QStringLiteral("check the device path (ls /dev/serial/by-id/)"); }

QString devicePath(const QString& name) {
    return QDir::isRelativePath(name) && !isNetworkDevice(name) ? QFileInfo(name).absoluteFilePath() : name;
}

QString defaultDeviceName(int portNumber) { return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1); }

}  // namespace veltra::serial_platform

namespace veltra {

namespace {

QString typeName(mode_t mode) {
    if (S_ISREG(mode)) return QStringLiteral("a regular file");
    if (S_ISDIR(mode)) return QStringLiteral("a directory");
    if (S_ISSOCK(mode)) return QStringLiteral("a socket");
    if (S_ISFIFO(mode)) return QStringLiteral("a pipe");
    if (S_ISBLK(mode)) return QStringLiteral("a block device");
    return QStringLiteral("not a device");
}

}  // namespace

DeviceNode inspectDeviceNode(const QString& path) {
    DeviceNode node;
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            node.kind = DeviceNode::Kind::Missing;
        return node;
    }
    node.kind = S_ISCHR(st.st_mode) ? DeviceNode::Kind::CharDevice : DeviceNode::Kind::Other;
    if (node.kind == DeviceNode::Kind::Other)
        node.typeName = typeName(st.st_mode);
    if (const struct group* g = ::getgrgid(st.st_gid))
        node.group = QString::fromLocal8Bit(g->gr_name);
    node.readWritable = ::access(native.constData(), R_OK | W_OK) == 0;
    if (const QString lock = deviceLockFile(path); !lock.isEmpty() && lockFileIsStale(lock))
        node.staleLock = lock;
    return node;
}

QString deviceLockFile(const QString& device) {
    // As the serial port library names and places them: the device without
    // "/dev/", slashes made underscores, in the first of these folders that
    // holds that file or may be written.
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char* folder : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp", "/var/tmp",
                               "/var/lock/lockdev", "/run/lock"}) {
        const QString dir = QString::fromLatin1(folder);
        const QByteArray nativeDir = QFile::encodeName(dir);
        if (::access(nativeDir.constData(), R_OK) != 0)
            continue;
        const QString file = dir + QStringLiteral("/LCK..") + name;
        if (QFile::exists(file) || ::access(nativeDir.constData(), W_OK) == 0)
            return QFile::exists(file) ? file : QString();
    }
    return {};
}

bool lockFileIsStale(const QString& lockFile) {
    QFile f(lockFile);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    // The process number comes first, as text (or as a binary int in old lock files).
    const QByteArray head = f.read(64);
    bool ok = false;
    const long pid = head.left(head.indexOf('\n')).trimmed().toLong(&ok);
    if (!ok || pid <= 0)
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace veltra
