// The traffic log on pipes, FIFOs and /dev/full (POSIX only).
#include "app/traffic_log.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltra {
namespace {

// The panel never waits for its log and never dies of it: a full device, a
// reader gone or one that does not keep up stop the log with one message; a
// reader that is only slow gets every line.
TEST(TrafficLogTest, neverBlocksNorKillsAndAFailedWriteIsToldOnce) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QString reason;
    EXPECT_FALSE(TrafficLog().open(fifo, &reason));  // nobody reads it: refused, not waited on
    EXPECT_EQ(reason, QStringLiteral("no program reads from this pipe"));

    const std::uint8_t byte = 0xCC;
    struct Row { const char* name; std::size_t lines; bool readerGone; const char* told; } rows[] = {
        {"full device", 2, false, "Traffic log stopped: No space left on device"},
        {"reader gone", 2, true, "Traffic log stopped: Broken pipe"},
        {"reader does not keep up", 100'000, false, "Traffic log stopped: its reader does not keep up"},
        {"slow reader", 5'000, false, nullptr},  // more than the pipe holds
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        int fds[2] = {-1, -1};
        ASSERT_EQ(::pipe(fds), 0);
        if (r.readerGone)
            ::close(std::exchange(fds[0], -1));
        else
            ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        TrafficLog log;
        QStringList told;
        log.setFailureHandler([&](const QString& text) { told << text; });
        const bool full = std::string(r.name) == "full device";
        ASSERT_TRUE(log.open(full ? QStringLiteral("/dev/full") : QStringLiteral("/dev/fd/%1").arg(fds[1]), nullptr));
        for (std::size_t i = 0; i < r.lines; ++i)
            log.write(1, "/dev/ttyS0", true, &byte, 1);
        if (r.told) {
            EXPECT_EQ(told, QStringList{QString::fromUtf8(r.told)});
            EXPECT_FALSE(log.isOpen());
        } else {
            QByteArray got;
            char buf[65536];
            EXPECT_TRUE(QTest::qWaitFor([&] {
                for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0 && got.count('\n') < qsizetype(r.lines);)
                    got.append(buf, n);
                return got.count('\n') == qsizetype(r.lines);
            }, 5000));
            EXPECT_TRUE(told.isEmpty());
        }
        for (int fd : fds)
            ::close(fd);
    }
}

}  // namespace
}  // namespace veltra
