// File replacement on POSIX systems: write beside the file, rename over it.
#include "panel/file_replace.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltra {

namespace {

// The kernel's own limit on links followed in one path.
constexpr int kMaxLinks = 40;

std::string sysText(int err) { return std::generic_category().message(err); }

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "something other than a file";
}

// What the save would write to: the path itself, or the end of its chain of
// symbolic links.
struct Target {
    std::string path;
    bool exists = false;
    bool throughLink = false;
    struct stat st {};
};

// Follows symbolic links one at a time: unlike realpath() this also finds
// where a dangling link points. Returns an error text, empty on success.
std::string resolve(const std::string& path, Target& t) {
    t.path = path;
    for (int hops = 0;; ++hops) {
        if (::lstat(t.path.c_str(), &t.st) != 0) {
            if (errno != ENOENT) return "cannot look at it: " + sysText(errno);
            t.exists = false;
            return {};
        }
        if (!S_ISLNK(t.st.st_mode)) {
            t.exists = true;
            return {};
        }
        if (hops == kMaxLinks) return "its symbolic links go round in a loop";
        std::string dest(static_cast<std::size_t>(t.st.st_size > 0 ? t.st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(t.path.c_str(), dest.data(), dest.size());
        if (n < 0) return "cannot read its symbolic link: " + sysText(errno);
        if (static_cast<std::size_t>(n) >= dest.size()) return "its symbolic link changed while being read";
        dest.resize(static_cast<std::size_t>(n));
        // A relative link is relative to the folder holding the link.
        if (!dest.starts_with('/')) {
            const std::string folder = folderOf(t.path);
            dest = (folder == "/" ? "" : folder) + "/" + dest;
        }
        t.path = std::move(dest);
        t.throughLink = true;
    }
}

// Why an existing target may not be replaced; empty when it may.
std::string refusal(const Target& t) {
    if (!t.exists) return {};
    if (!S_ISREG(t.st.st_mode))
        return std::string(t.throughLink ? "it links to " : "it is ") + kindOf(t.st.st_mode) + ", not a regular file";
    if ((t.st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return "it is read-only";
    if (::faccessat(AT_FDCWD, t.path.c_str(), W_OK, AT_EACCESS) != 0) {
        if (errno == EACCES) return "you have no permission to write to it";
        if (errno == EROFS) return "it is on a read-only file system";
        return "cannot write to it: " + sysText(errno);
    }
    return {};
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    // Closes now and reports the result: a failed close can mean lost data.
    int close() {
        const int rc = ::close(m_fd);
        m_fd = -1;
        return rc;
    }

private:
    int m_fd;
};

// Makes the new file's owner, group and permissions those of the old one.
// Owner and group are best effort: only root may give a file away, and
// others only to a group of their own.
bool takeOverRights(int fd, const struct stat& old) {
    struct stat mine {};
    if (::fstat(fd, &mine) == 0 && (mine.st_uid != old.st_uid || mine.st_gid != old.st_gid)) {
        if (::fchown(fd, old.st_uid, old.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
            // best effort: the new file keeps this user's group
        }
    }
    // After the change of owner, which clears set-user-ID and set-group-ID.
    return ::fchmod(fd, old.st_mode & 07777) == 0;
}

}  // namespace

std::string replaceFile(const std::string& path, std::string_view bytes) {
    if (nameOf(path).empty()) return "no file name was given";
    Target target;
    if (std::string err = resolve(path, target); !err.empty()) return err;
    if (std::string err = refusal(target); !err.empty()) return err;

    const std::string folder = folderOf(target.path);
    // O_EXCL with a name nobody else uses. A new file gets the usual 0666
    // less the umask; a replacement starts private and then takes the old
    // file's rights.
    static std::atomic<unsigned> counter{0};
    std::string temp;
    int raw = -1;
    int openErr = 0;
    for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
        const auto ticks = static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
        temp = (folder == "/" ? "" : folder) + "/." + nameOf(target.path) + ".tmp-" + std::to_string(::getpid()) +
               "-" + std::to_string(counter++) + "-" + std::to_string(ticks % 1000000);
        raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, target.exists ? 0600 : 0666);
        openErr = errno;
        if (raw < 0 && openErr != EEXIST) break;
    }
    if (raw < 0) return "cannot create a file in its folder: " + sysText(openErr);
    Fd fd(raw);
    const auto abandon = [&](const std::string& what) {
        if (fd.get() >= 0) fd.close();
        ::unlink(temp.c_str());
        return what;
    };

    if (target.exists && !takeOverRights(fd.get(), target.st))
        return abandon("cannot give the new file the old one's permissions: " + sysText(errno));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return abandon("writing failed: " + sysText(errno));
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd.get()) != 0) return abandon("flushing to disk failed: " + sysText(errno));
    if (fd.close() != 0) return abandon("closing failed: " + sysText(errno));

    // Something may have taken the target's place meanwhile: never rename
    // over anything but a regular file.
    Target now;
    now.path = target.path;
    now.exists = ::lstat(now.path.c_str(), &now.st) == 0;
    if (now.exists && !S_ISREG(now.st.st_mode)) return abandon(refusal(now));
    if (::rename(temp.c_str(), target.path.c_str()) != 0) return abandon("cannot replace it: " + sysText(errno));

    // Make the rename itself durable; the data is safe either way, so errors are ignored.
    Fd dirFd(::open(folder.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY));
    if (dirFd.get() >= 0) (void)::fsync(dirFd.get());
    return {};
}

FileRead readRegularFile(const std::string& path, std::uint64_t limit) {
    FileRead r;
    const auto failWith = [&](FileRead::Failure f, std::string reason) {
        r.failure = f;
        r.reason = std::move(reason);
        r.bytes.clear();
        return r;
    };
    // Non-blocking so that a FIFO named by mistake cannot hang in open().
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return failWith(FileRead::Failure::CannotOpen, sysText(errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return failWith(FileRead::Failure::CannotOpen, sysText(errno));
    if (!S_ISREG(st.st_mode)) return failWith(FileRead::Failure::CannotOpen, "not a regular file");
    if (static_cast<std::uint64_t>(st.st_size) > limit) return failWith(FileRead::Failure::TooLarge, {});
    r.bytes.reserve(static_cast<std::size_t>(st.st_size));
    // Read up to one byte past the limit: the file may have grown since fstat.
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return failWith(FileRead::Failure::ReadError, sysText(errno));
        }
        if (n == 0) break;
        r.bytes.append(buf, static_cast<std::size_t>(n));
        if (r.bytes.size() > limit) return failWith(FileRead::Failure::TooLarge, {});
    }
    return r;
}

std::string fileBaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace veltra
