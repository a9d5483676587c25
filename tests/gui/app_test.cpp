// The program itself: its command line, and a start against a pseudo-terminal
// as the demo runs it.

#include "app/app_options.h"
#include "serial/pty_pair.h"

#include <QDir>

#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

namespace veltra {
namespace {

struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ProgramRun runUtility(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VELTRA_UTILITY_PATH), args);
    ProgramRun r;
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

TEST(UtilityCommandLineTest, portDevicesKeepNamesAndAnchorRelativePaths) {
    const AppOptions o = parseAppOptions({QStringLiteral("veltra-utility"), QStringLiteral("--port"),
                                          QStringLiteral("1=build/demo/com1"), QStringLiteral("--port"),
                                          QStringLiteral("2=/dev/ttyUSB0"), QStringLiteral("--port"),
                                          QStringLiteral("4=ttyS7")});
    ASSERT_EQ(o.action, AppOptions::Action::Run);
    // A relative path would be read as a name under /dev by the serial layer.
    EXPECT_EQ(o.devices[0], QDir::current().absoluteFilePath(QStringLiteral("build/demo/com1")));
    EXPECT_EQ(o.devices[1], QStringLiteral("/dev/ttyUSB0"));
    EXPECT_TRUE(o.devices[2].isEmpty());
    EXPECT_EQ(o.devices[3], QStringLiteral("ttyS7"));
}

TEST(UtilityCommandLineTest, versionNamesTheRelease) {
    const ProgramRun r = runUtility({QStringLiteral("--version")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.trimmed(), QStringLiteral("veltra-utility 1.1.2.0"));
}

TEST(UtilityCommandLineTest, helpDescribesThePortOption) {
    const ProgramRun r = runUtility({QStringLiteral("--help")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("Veltra Utility - COM")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("--port <N=DEVICE>")));
}

class BadArgumentsTest : public ::testing::TestWithParam<std::vector<const char*>> {};

TEST_P(BadArgumentsTest, exitWithStatusTwoAndAMessage) {
    QStringList args;
    for (const char* a : GetParam())
        args.append(QString::fromUtf8(a));
    const ProgramRun r = runUtility(args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("veltra-utility: "))) << r.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BadArgumentsTest,
    ::testing::Values(std::vector<const char*>{"--port", "5=/dev/ttyS0"}, std::vector<const char*>{"--port", "0=x"},
                      std::vector<const char*>{"--port", "1"}, std::vector<const char*>{"--port", "1="},
                      std::vector<const char*>{"--port", "x=/dev/ttyS0"},
                      std::vector<const char*>{"--port", "1=a", "--port", "1=b"},
                      std::vector<const char*>{"--bogus"}, std::vector<const char*>{"extra"},
                      std::vector<const char*>{"--port"}));

TEST(UtilityRunTest, reportsReadyForVeltraWhenTheControllerAnswers) {
    test::PtyPair pty;
    if (!pty.ok())
        GTEST_SKIP() << "no pseudo-terminal available";
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("veltra.status.info=true"));
    p.setProcessEnvironment(env);
    QString err;
    QObject::connect(&p, &QProcess::readyReadStandardError,
                     [&] { err += QString::fromLocal8Bit(p.readAllStandardError()); });
    p.start(QStringLiteral(VELTRA_UTILITY_PATH),
            {QStringLiteral("--port"), QStringLiteral("1=") + pty.slavePath(), QStringLiteral("--port"),
             QStringLiteral("2=/nonexistent/veltra-com2"), QStringLiteral("--port"),
             QStringLiteral("3=/nonexistent/veltra-com3"), QStringLiteral("--port"),
             QStringLiteral("4=/nonexistent/veltra-com4")});
    ASSERT_TRUE(p.waitForStarted(10000));
    EXPECT_EQ(pty.receive(1, 15000), QByteArray(1, '\xEE'));
    EXPECT_TRUE(QTest::qWaitFor([&] { return err.contains(QStringLiteral("COM1: Connected")); }, 10000))
        << err.toStdString();
    ASSERT_TRUE(pty.send(QByteArray(1, '\xEE')));
    EXPECT_TRUE(QTest::qWaitFor([&] { return err.contains(QStringLiteral("COM1: Ready for Veltra")); }, 10000))
        << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("COM4: Disconnected")));
    p.terminate();
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

}  // namespace
}  // namespace veltra
