// The traffic log on a pipe (POSIX only).
#include "app/app_options.h"
#include "app/traffic_log.h"
#include "support/qt_print.h"

#include <QDir>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace veltra {
namespace {

// The panel never waits for its log: a reader that does not keep up stops the
// log with one message; one that is only slow gets every line. (A FIFO nobody
// reads, a full device and a reader gone: the end-to-end suite's traffic log
// test, on the program itself.)
TEST(TrafficLogTest, aReaderThatDoesNotKeepUpStopsItOnceASlowOneGetsEveryLine) {
    const std::uint8_t byte = 0xCC;
    struct Row { std::size_t lines; const char* told; } rows[] = {
        {100'000, "Traffic log stopped: its reader does not keep up"},
        {5'000, nullptr},  // more than the pipe holds
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.lines);
        int fds[2] = {-1, -1};
        ASSERT_EQ(::pipe(fds), 0);
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        TrafficLog log;
        QStringList told;
        log.setFailureHandler([&](const QString& text) { told << text; });
        ASSERT_TRUE(log.open(QStringLiteral("/dev/fd/%1").arg(fds[1]), nullptr));
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
// A bare name is a file in the working folder for the panel as for veltractl
// and Python, never a short name under /dev.
TEST(CommandLinePosixTest, aBareDeviceNameIsTakenFromTheWorkingFolder) {
    EXPECT_EQ(parseAppOptions({"veltra-utility", "--port", "4=ttyS7"}).devices[3],
              QDir::current().absoluteFilePath("ttyS7"));
}

}  // namespace veltra
