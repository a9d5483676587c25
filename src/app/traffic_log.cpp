#include "traffic_log.h"

#include "gui/port_hub.h"
#include "protocol/traffic_line.h"
#include "serial/ccomportlink.h"

#include <QFile>

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>

#ifndef Q_OS_WIN
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace veltra {

#ifdef Q_OS_WIN

struct TrafficLog::File {
    QFile file;
};

bool TrafficLog::open(const QString& path, QString* error) {
    m_file = std::make_unique<File>();
    m_file->file.setFileName(path);
    if (m_file->file.open(QIODevice::WriteOnly | QIODevice::Append))
        return true;
    if (error)
        *error = m_file->file.errorString();
    m_file.reset();
    return false;
}

void TrafficLog::writeLine(std::string line) {
    if (!m_file)
        return;
    line += '\n';
    QFile& f = m_file->file;
    if (f.write(line.data(), static_cast<qint64>(line.size())) != static_cast<qint64>(line.size()) || !f.flush())
        stop(f.errorString());
}

#else

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

#endif

TrafficLog::TrafficLog() = default;
TrafficLog::~TrafficLog() = default;

bool TrafficLog::isOpen() const { return m_file != nullptr; }

namespace {

std::string portName(int port, const QString& device) {
    return "COM" + std::to_string(port) + " " + device.toStdString();
}

}  // namespace

void TrafficLog::write(int port, const QString& device, bool sent, const std::uint8_t* bytes, std::size_t n) {
    if (!m_file)
        return;
    // A large chunk is several lines of at most kLineBytes bytes, handed over together.
    const auto now = std::chrono::system_clock::now();
    const std::string name = portName(port, device);
    std::string lines;
    std::size_t at = 0;
    do {
        const std::size_t part = std::min(n - at, kLineBytes);
        if (!lines.empty())
            lines += '\n';
        lines += trafficLine(now, sent, name, bytes + at, part);
        at += part;
    } while (at < n);
    writeLine(std::move(lines));
}

void TrafficLog::writeEvent(int port, const QString& device, const QString& text) {
    if (m_file)
        writeLine(trafficEventLine(std::chrono::system_clock::now(), portName(port, device), text.toStdString()));
}

void TrafficLog::stop(const QString& reason) {
    m_file.reset();
    if (m_failed)
        std::exchange(m_failed, {})(QStringLiteral("Traffic log stopped: %1").arg(reason));
}

void TrafficLog::attach(PortHub& ports) {
    ports.setTrafficHandler([this, &ports](int port, bool sent, const std::uint8_t* bytes, std::size_t n) {
        write(port, ports.link(port).deviceName(), sent, bytes, n);
    });
    ports.setEventHandler(
        [this, &ports](int port, const QString& text) { writeEvent(port, ports.link(port).deviceName(), text); });
}

QString trafficLogFailure(const QString& path, const QString& reason) {
    return QStringLiteral("The traffic log %1 cannot be opened: %2. Veltra Utility runs without it.").arg(path, reason);
}

}  // namespace veltra
