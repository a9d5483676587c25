// The traffic log on a named pipe (Windows): the writer never holds up the
// caller, whatever its reader does.
#include "app/traffic_log.h"
#include "support/qt_print.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>

namespace veltra {
namespace {

// A pipe of this process with room for a few bytes; its reader is the test.
struct Pipe {
    QString name = QStringLiteral("\\\\.\\pipe\\veltra-traffic-%1-%2").arg(GetCurrentProcessId()).arg(++count);
    HANDLE handle = CreateNamedPipeW(reinterpret_cast<const wchar_t*>(name.utf16()), PIPE_ACCESS_INBOUND,
                                     PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 64, 0, nullptr);
    ~Pipe() { close(); }
    void close() {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(std::exchange(handle, INVALID_HANDLE_VALUE));
    }
    static inline int count = 0;
};

const std::uint8_t kByte = 0xCC;

TEST(TrafficLogWinTest, aPipeWithoutItsReaderIsRefused) {
    TrafficLog log;
    QString error;
    EXPECT_FALSE(log.open(QStringLiteral("\\\\.\\pipe\\veltra-traffic-nobody-%1").arg(GetCurrentProcessId()), &error));
    EXPECT_EQ(error, "no program reads from this pipe");
    EXPECT_FALSE(log.isOpen());
}

// What the log tells, for each way its reader may behave; each row must end
// without the writer having held up this thread.
TEST(TrafficLogWinTest, theReaderDecidesWhatIsToldNeverWhetherTheCallerWaits) {
    enum class Reader { Never, ReadsAll, Leaves, NeverAndTheLogCloses };
    struct Row {
        const char* name;
        Reader reader;
        std::size_t lines;
        const char* told;  // the start of the one message; nullptr: none
        std::size_t chunk = 1;  // bytes per write
    } rows[] = {
        {"takes nothing, more than 1 MiB comes", Reader::Never, 100'000,
         "Traffic log stopped: its reader does not keep up"},
        {"takes every line", Reader::ReadsAll, 5'000, nullptr},
        {"takes a burst of more than 1 MiB in one go", Reader::ReadsAll, 1, nullptr, 600 * 1024},
        {"goes away", Reader::Leaves, 10, "Traffic log stopped: "},
        {"takes nothing, the log closes", Reader::NeverAndTheLogCloses, 1'000, nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Pipe pipe;
        ASSERT_NE(pipe.handle, INVALID_HANDLE_VALUE);
        auto log = std::make_unique<TrafficLog>();
        QStringList told;
        log->setFailureHandler([&](const QString& text) { told << text; });
        ASSERT_TRUE(log->open(pipe.name, nullptr));
        ASSERT_TRUE(ConnectNamedPipe(pipe.handle, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED);

        std::atomic<std::size_t> got{0};
        std::thread reader;
        if (r.reader == Reader::ReadsAll) {
            reader = std::thread([&] {
                char buf[4096];
                DWORD n = 0;
                while (ReadFile(pipe.handle, buf, sizeof buf, &n, nullptr) && n > 0)
                    got += static_cast<std::size_t>(std::count(buf, buf + n, '\n'));
            });
        }
        const std::string bytes(r.chunk, '\xCC');
        for (std::size_t i = 0; i < r.lines; ++i)
            log->write(1, "COM7", true, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        const std::size_t lines = r.lines * ((r.chunk + TrafficLog::kLineBytes - 1) / TrafficLog::kLineBytes);
        if (r.reader == Reader::Leaves) {
            pipe.close();
            log->write(1, "COM7", true, &kByte, 1);
        }
        if (r.told) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return !told.isEmpty(); }, 5000));
            ASSERT_EQ(told.size(), 1);
            EXPECT_TRUE(told[0].startsWith(QString::fromUtf8(r.told))) << told[0].toStdString();
            EXPECT_GT(told[0].size(), qsizetype(std::strlen("Traffic log stopped: ")));
            EXPECT_FALSE(log->isOpen());
            log->write(1, "COM7", true, &kByte, 1);  // nothing more, nothing told
            QCoreApplication::processEvents();
            EXPECT_EQ(told.size(), 1);
        } else if (r.reader == Reader::ReadsAll) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return got == lines; }, 10000)) << got;
            EXPECT_TRUE(told.isEmpty());
        } else {
            EXPECT_TRUE(log->isOpen());
            log.reset();  // the write its reader holds up is given up
            QCoreApplication::processEvents();
            EXPECT_TRUE(told.isEmpty());
        }
        log.reset();
        if (reader.joinable())
            reader.join();  // its ReadFile ends with the writer gone
    }
}

// A file takes every line, appended to what it held.
TEST(TrafficLogWinTest, aFileGetsEveryLineAfterWhatItHeld) {
    const QString path = QDir::temp().filePath(QStringLiteral("veltra-traffic-%1.log").arg(GetCurrentProcessId()));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("before\n");
    }
    {
        TrafficLog log;
        ASSERT_TRUE(log.open(path, nullptr));
        for (int i = 0; i < 1000; ++i)
            log.writeLine("line " + std::to_string(i));
    }
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    f.close();
    QFile::remove(path);
    ASSERT_EQ(lines.size(), 1002);
    EXPECT_EQ(lines[0], "before");
    EXPECT_EQ(lines[1], "line 0");
    EXPECT_EQ(lines[1000], "line 999");
}

}  // namespace
}  // namespace veltra

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
