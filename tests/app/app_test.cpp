#include "app/app_options.h"
#include "app/traffic_log.h"
#include "gui/parked_bytes.h"
#include "protocol/traffic_line.h"
#include "serial/port_settings.h"
#include "support/qt_print.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

namespace veltra {
namespace {

TEST(CommandLineTest, logLinesAndTrafficLog) {
    struct Row { QStringList args; AppOptions::Action action; std::size_t lines; QString traffic; } rows[] = {
        {{}, AppOptions::Action::Run, 1'000'000, ""},
        {{"--log-lines", "5000", "--traffic-log", "t.log"}, AppOptions::Action::Run, 5000, "t.log"},
        {{"--log-lines", "1"}, AppOptions::Action::Run, 1, ""},
        {{"--log-lines", "1000000000"}, AppOptions::Action::Run, 1'000'000'000, ""},
        {{"--log-lines", "0"}, AppOptions::Action::Error, 1'000'000, ""},
        {{"--log-lines", "1000000001"}, AppOptions::Action::Error, 1'000'000, ""},
        {{"--log-lines", "12x"}, AppOptions::Action::Error, 1'000'000, ""},
        {{"--traffic-log", ""}, AppOptions::Action::Error, 1'000'000, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.args.join(' ').toStdString());
        const AppOptions o = parseAppOptions(QStringList{"veltra-utility"} + r.args);
        EXPECT_EQ(o.action, r.action);
        if (o.action == AppOptions::Action::Run) { EXPECT_EQ(std::pair(o.logLines, o.trafficLog), std::pair(r.lines, r.traffic)); }
    }
    // Port devices keep their names; a relative path is anchored in the working folder.
    const QString absolute = QDir::current().absoluteFilePath("com2");  // /dev/ttyUSB0 is drive-relative on Windows
    EXPECT_EQ(parseAppOptions({"veltra-utility", "--port", "1=build/demo/com1", "--port", "2=" + absolute, "--port",
                               "3=rfc2217://[::1]:4001", "--port", "4=" + defaultDeviceName(4)}).devices,
              (std::array<QString, kPortCount>{QDir::current().absoluteFilePath("build/demo/com1"), absolute,
                                               "rfc2217://[::1]:4001", defaultDeviceName(4)}));
}

// Event lines ("--"): the end-to-end traffic log test.
TEST(TrafficLine, localTimeWithMillisecondsDirectionPortAndHexBytes) {
    std::tm tm{};
    tm.tm_year = 2026 - 1900, tm.tm_mon = 11, tm.tm_mday = 6, tm.tm_hour = 22, tm.tm_min = 15, tm.tm_sec = 3, tm.tm_isdst = -1;
    const auto at = std::chrono::system_clock::from_time_t(std::mktime(&tm));
    const std::uint8_t reply[] = {0xCC, 0xAA, 0xDC, 0x00, 0x0F};
    struct Row { std::chrono::milliseconds ms; bool tx; const char* port; std::size_t n; const char* line; } rows[] = {
        {std::chrono::milliseconds(7), false, "COM4", 5, "2026-12-06T22:15:03.007 RX COM4 CC AA DC 00 0F"},
        {std::chrono::milliseconds(999), false, "/dev/ttyUSB0", 0, "2026-12-06T22:15:03.999 RX /dev/ttyUSB0"},
        {std::chrono::milliseconds(1000), true, "COM2", 2, "2026-12-06T22:15:04.000 TX COM2 CC AA"},
    };
    for (const Row& r : rows) EXPECT_EQ(trafficLine(at + r.ms, r.tx, r.port, reply, r.n), r.line);
}

// A large burst received in one chunk is in an ordinary file whole, in lines
// of bounded length; a control character in a device name or an event's text
// is written out, so every line stays one line of its own kind.
TEST(TrafficLogTest, aBurstInOneChunkIsLoggedWholeAndControlCharactersAreWrittenOut) {
    QTemporaryDir dir;
    const QString path = dir.filePath("traffic.log");
    TrafficLog log;
    QStringList told;
    log.setFailureHandler([&](const QString& text) { told << text; });
    ASSERT_TRUE(log.open(path, nullptr));
    QByteArray burst(600 * 1024, '\0');
    for (qsizetype i = 0; i < burst.size(); ++i) burst[i] = char(i * 7 % 251);
    log.write(1, "/dev/ttyUSB0", false, reinterpret_cast<const std::uint8_t*>(burst.constData()), std::size_t(burst.size()));
    log.write(2, "/tmp/com\nTX COM2 /tmp/x", true, reinterpret_cast<const std::uint8_t*>("\xCC"), 1);
    log.writeEvent(3, "/tmp/\x1b[2Jcom\t3", "open failed: does not exist\r\nTX COM3 EE");
    EXPECT_TRUE(told.isEmpty()) << told.join('\n').toStdString();
    EXPECT_TRUE(log.isOpen());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_GE(lines.size(), 3);
    QByteArray got;
    std::size_t longest = 0;
    for (qsizetype i = 0; i + 3 < lines.size(); ++i) {
        const QByteArray& l = lines[i];
        EXPECT_NE(l.indexOf(" RX COM1 /dev/ttyUSB0 "), -1) << i;
        got += QByteArray::fromHex(l.mid(l.indexOf("/dev/ttyUSB0 ") + 13));
        longest = std::max(longest, std::size_t(l.size()));
    }
    EXPECT_TRUE(got == burst) << got.size();
    EXPECT_LE(longest, 44 + 3 * TrafficLog::kLineBytes);  // time, RX, port and device, the bytes
    EXPECT_TRUE(lines[lines.size() - 3].endsWith(" TX COM2 /tmp/com\\nTX COM2 /tmp/x CC")) << lines[lines.size() - 3].toStdString();
    EXPECT_TRUE(lines[lines.size() - 2].endsWith(" -- COM3 /tmp/\\x1B[2Jcom\\t3 open failed: does not exist\\r\\nTX COM3 EE"))
        << lines[lines.size() - 2].toStdString();
    EXPECT_EQ(lines.back(), QByteArray());
}

TEST(ParkedBytesTest, keepsTheNewestBytesPerPortAndCountsTheDropped) {
    ParkedBytes parked(4);
    EXPECT_TRUE(parked.empty());
    for (int b : {1, 2, 3}) parked.park(1, static_cast<std::uint8_t>(b));
    parked.park(2, 0x20);
    const auto mark = parked.marks();
    for (int b : {4, 5, 6, 7}) parked.park(1, static_cast<std::uint8_t>(b));  // port 1 holds at most 4: 1, 2 and 3 go
    const auto first = parked.takeDropped(1);
    EXPECT_EQ(std::pair(first, parked.takeDropped(1)), std::pair(std::uint64_t{3}, std::uint64_t{0}));
    EXPECT_EQ(parked.take(1, mark[0]), std::vector<std::uint8_t>{});  // all before the mark were dropped
    EXPECT_EQ(parked.take(2, mark[1]), std::vector<std::uint8_t>{0x20});
    parked.park(1, 8);  // wraps around the full ring: 4 goes
    EXPECT_EQ(parked.take(1, parked.marks()[0] - 1), (std::vector<std::uint8_t>{5, 6, 7}));
    EXPECT_EQ(parked.take(1, parked.marks()[0]), (std::vector<std::uint8_t>{8}));
    EXPECT_FALSE(parked.empty());  // the drop is still to be told
    EXPECT_TRUE(parked.takeDropped(1) == 1u && parked.empty());
}

}  // namespace
}  // namespace veltra

// A failed comparison of Qt strings shows their text (tests/support/qt_print.h).
TEST(TestSupport, QtStringsPrintAsQuotedText) {
    EXPECT_EQ(testing::PrintToString(QStringLiteral("COM1 \"x\"")), "\"COM1 \\\"x\\\"\"");
    EXPECT_EQ(testing::PrintToString(QByteArray("\xCC\r", 2)), "\"\\xCC\\r\"");
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
