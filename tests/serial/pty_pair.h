#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <utility>

namespace veltra::test {

// A pseudo-terminal standing in for a serial port: the link opens the slave by its path,
// the test plays the device on the master and only looks at its own slave descriptor.
class PtyPair {
public:
    PtyPair() {
        if (::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) == 0)
            m_slavePath = QString::fromLocal8Bit(::ptsname(m_master));
    }
    ~PtyPair() { for (int fd : {m_master, m_slave}) ::close(fd); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return m_master >= 0 && m_slave >= 0; }
    const QString& slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }
    int slaveFd() const { return m_slave; }
    // The device goes away: the link's side hangs up.
    void closeMaster() { ::close(std::exchange(m_master, -1)); }
    // One write, so the link sees the bytes as one batch.
    bool send(const QByteArray& b) { return ::write(m_master, b.constData(), size_t(b.size())) == b.size(); }
    // Runs the event loop until `count` bytes came from the link or the time is up.
    QByteArray receive(int count, int timeoutMs = 3000) {
        QByteArray got;
        char buf[256];
        for (QDeadlineTimer deadline(timeoutMs); got.size() < count && !deadline.hasExpired();) {
            QCoreApplication::processEvents();
            if (const ssize_t n = readable(m_master, 5) ? ::read(m_master, buf, sizeof buf) : 0; n > 0)
                got.append(buf, n);
        }
        return got;
    }
    bool slaveHasInput(int timeoutMs = 0) const { return readable(m_slave, timeoutMs); }
    termios slaveTermios() const { termios t{}; return ::tcgetattr(m_slave, &t), t; }

private:
    static bool readable(int fd, int timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN) != 0;
    }

    int m_master = -1, m_slave = -1;
    QString m_slavePath;
};

}  // namespace veltra::test
