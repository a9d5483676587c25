#include "sim/pty_port.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace veltra {

namespace {

std::string failure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool makeRaw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return false;
    ::cfmakeraw(&t);
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

PtyPort::~PtyPort() {
    removeLink();
    closeMaster();
}

std::string PtyPort::open(const std::string& link) {
    m_link = link;
    if (std::string err = create(); !err.empty()) return err;
    return makeLink();
}

std::string PtyPort::create() {
    const int m = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0) return failure("posix_openpt");
    m_master = m;
    if (::grantpt(m) != 0) return failure("grantpt");
    if (::unlockpt(m) != 0) return failure("unlockpt");
    const char* name = ::ptsname(m);
    if (!name) return failure("ptsname");
    m_slavePath = name;
    if (::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK) != 0) return failure("fcntl");
    if (::fcntl(m, F_SETFD, FD_CLOEXEC) != 0) return failure("fcntl");
    // On Linux the master's line settings are the slave's; set them raw there
    // too, where a client sees them, so even a plain terminal program gets
    // clean bytes.
    if (!makeRaw(m)) return failure("tcsetattr");
    // One open and close of our own puts the master in the "no client" state
    // from the start, so nothing is written before a client arrives.
    const int s = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s < 0) return failure("open slave");
    const bool raw = makeRaw(s);
    ::close(s);
    if (!raw) return failure("tcsetattr");
    return {};
}

std::string PtyPort::makeLink() {
    if (m_link.empty()) return {};
    struct stat st{};
    if (::lstat(m_link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        return m_link + " exists and is not a symbolic link; not replacing it";
    // Build beside it and rename over it, so the link never goes missing.
    const std::string tmp = m_link + ".tmp-" + std::to_string(::getpid());
    ::unlink(tmp.c_str());
    if (::symlink(m_slavePath.c_str(), tmp.c_str()) != 0) return failure("symlink");
    if (::rename(tmp.c_str(), m_link.c_str()) != 0) {
        std::string err = failure("rename");
        ::unlink(tmp.c_str());
        return err;
    }
    return {};
}

void PtyPort::removeLink() {
    if (m_link.empty() || m_slavePath.empty()) return;
    char target[4096];
    const ssize_t n = ::readlink(m_link.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == m_slavePath)
        ::unlink(m_link.c_str());
}

void PtyPort::closeMaster() {
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
}

bool PtyPort::clientPresent() const {
    pollfd p{m_master, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0) return false;
    return (p.revents & POLLHUP) == 0;
}

bool PtyPort::tidyAfterClient() {
    if (clientPresent()) return true;  // someone is already back: leave the line to them
    const int s = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s < 0) return !(errno == EBUSY && !clientPresent());
    ::ioctl(s, TIOCNXCL);
    ::tcflush(s, TCIFLUSH);
    ::close(s);
    return true;
}

std::string PtyPort::renew() {
    closeMaster();  // the link is renamed over below, so it never goes missing
    if (std::string err = create(); !err.empty()) return err;
    return makeLink();
}

}  // namespace veltra
