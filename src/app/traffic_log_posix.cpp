#include "traffic_log.h"

#include <QFile>

#include <string>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace veltra {

namespace {

QString systemText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

// A descriptor opened without blocking: a pipe or terminal that takes nothing
// for now never holds up the panel; what it has not taken waits here.
struct TrafficLog::File {
    int fd = -1;
    std::string pending;
    std::unique_ptr<QSocketNotifier> writable;
    ~File() {
        // The log may stop inside the notifier's own signal: it goes later.
        if (writable) {
            writable->setEnabled(false);
            writable.release()->deleteLater();
        }
        if (fd >= 0)
            ::close(fd);
    }
};

bool TrafficLog::open(const QString& path, QString* error) {
    // A reader that goes away must not end the program: the write fails instead.
    std::signal(SIGPIPE, SIG_IGN);
    m_file.reset();
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC,
                          0666);
    if (fd < 0) {
        if (error)
            *error = errno == ENXIO ? QStringLiteral("no program reads from this pipe") : systemText(errno);
        return false;
    }
    m_file = std::make_unique<File>();
    m_file->fd = fd;
    m_file->writable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    m_file->writable->setEnabled(false);
    QObject::connect(m_file->writable.get(), &QSocketNotifier::activated, m_file->writable.get(),
                     [this] { writeLine({}); });
    return true;
}

// Hands what waits, then `line`, to the system; an empty line only flushes.
void TrafficLog::writeLine(std::string line) {
    if (!m_file)
        return;
    File& f = *m_file;
    if (!line.empty()) {
        line += '\n';
        f.pending += line;
    }
    if (f.pending.empty())
        return;
    std::size_t done = 0;
    while (done < f.pending.size()) {
        const ssize_t n = ::write(f.fd, f.pending.data() + done, f.pending.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;  // the reader takes the rest when it can
        } else {
            stop(systemText(n < 0 ? errno : EIO));
            return;
        }
    }
    f.pending.erase(0, done);
    // Only what the reader leaves waiting counts: a file takes everything at
    // once, however much came in one go.
    if (f.pending.size() > kMaxPending) {
        stop(QStringLiteral("its reader does not keep up"));
        return;
    }
    f.writable->setEnabled(!f.pending.empty());
}

TrafficLog::TrafficLog() = default;
TrafficLog::~TrafficLog() = default;
void TrafficLog::closeFile() { m_file.reset(); }

}  // namespace veltra
