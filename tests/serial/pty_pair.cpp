#include "serial/pty_pair.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace veltra::test {

PtyPair::PtyPair() {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0)
        return;
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        closeMaster();
        return;
    }
    const char* name = ::ptsname(m_master);
    if (name == nullptr) {
        closeMaster();
        return;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    // Raw on the master too, so nothing the link sends is translated.
    termios t{};
    if (::tcgetattr(m_master, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(m_master, TCSANOW, &t);
    }
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_slave < 0)
        closeMaster();
}

PtyPair::~PtyPair() {
    closeMaster();
    if (m_slave >= 0)
        ::close(m_slave);
}

void PtyPair::closeMaster() {
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

bool PtyPair::send(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done,
                                  static_cast<std::size_t>(bytes.size() - done));
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return false;
        if (n > 0)
            done += n;
    }
    return true;
}

QByteArray PtyPair::receive(int count, int timeoutMs) {
    QByteArray got;
    QDeadlineTimer deadline(timeoutMs);
    while (got.size() < count && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, 5) > 0 && (p.revents & POLLIN) != 0) {
            char buf[256];
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0)
                got.append(buf, static_cast<qsizetype>(n));
        }
    }
    return got;
}

bool PtyPair::slaveHasInput(int timeoutMs) const {
    pollfd p{m_slave, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN) != 0;
}

termios PtyPair::slaveTermios() const {
    termios t{};
    ::tcgetattr(m_slave, &t);
    return t;
}

bool PtyPair::holdsParityAndDataBits() const {
    termios saved{};
    if (::tcgetattr(m_slave, &saved) != 0)
        return false;
    termios t = saved;
    t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB;
    termios back{};
    const bool held = ::tcsetattr(m_slave, TCSANOW, &t) == 0 && ::tcgetattr(m_slave, &back) == 0 &&
                      (back.c_cflag & PARENB) != 0 && (back.c_cflag & CSIZE) == CS7;
    ::tcsetattr(m_slave, TCSANOW, &saved);
    return held;
}

}  // namespace veltra::test
