#include "gui/port_memory.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

#include <sys/stat.h>

namespace veltra {

namespace {

QString kindOf(mode_t mode) {
    if (S_ISFIFO(mode)) return QStringLiteral("a FIFO");
    if (S_ISDIR(mode)) return QStringLiteral("a folder");
    if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("a device");
    if (S_ISSOCK(mode)) return QStringLiteral("a socket");
    return QStringLiteral("something else");
}

}  // namespace

std::unique_ptr<QSettings> openPortMemory(QString* refusal) {
    // The file QSettings keeps the user's settings of this program in; only
    // that one is read (no organisation-wide or system-wide fallbacks).
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') +
                         QCoreApplication::organizationName() + QLatin1Char('/') +
                         QCoreApplication::applicationName() + QStringLiteral(".conf");
    struct stat st {};
    // Through a symbolic link to what it names; a file not there yet is made on the first "Configurate".
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (refusal)
            *refusal = QStringLiteral("the remembered ports' file %1 is not a regular file (%2): the ports "
                                      "start with their defaults and nothing is remembered")
                           .arg(path, kindOf(st.st_mode));
        return nullptr;
    }
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

}  // namespace veltra
