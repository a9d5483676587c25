#include "serial/device_node.h"

#include <QFile>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
    return node;
}

}  // namespace veltra
