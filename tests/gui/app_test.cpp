// The program's command line.

#include "app/app_options.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

namespace veltra {
namespace {

TEST(UtilityCommandLineTest, versionHelpAndBadArgumentsExitAsDocumented) {
    const std::tuple<QStringList, int, QString> rows[] = {
        {{"--version"}, 0, "veltra-utility 1.1.2.0\n"},
        {{"--help"}, 0, "--port <N=DEVICE>"},
        {{"--port", "5=/dev/ttyS0"}, 2, "veltra-utility: invalid --port value '5=/dev/ttyS0'"},
        {{"--port", "1=a", "--port", "1=b"}, 2, "veltra-utility: --port 1 given more than once"},
        {{"--bogus"}, 2, "veltra-utility: "},
    };
    for (const auto& [args, status, output] : rows) {
        QProcess p;
        p.start(QStringLiteral(VELTRA_UTILITY_PATH), args);
        ASSERT_TRUE(p.waitForFinished(20000)) << args.join(' ').toStdString();
        const QString out = status == 0 ? p.readAllStandardOutput() : p.readAllStandardError();
        EXPECT_EQ(std::pair(p.exitCode(), out.contains(output)), std::pair(status, true)) << out.toStdString();
    }
}

TEST(UtilityCommandLineTest, portDevicesKeepNamesAndAnchorRelativePaths) {
    const AppOptions o = parseAppOptions(
        {"veltra-utility", "--port", "1=build/demo/com1", "--port", "2=/dev/ttyUSB0", "--port", "4=ttyS7"});
    ASSERT_EQ(o.action, AppOptions::Action::Run);
    EXPECT_EQ(o.devices, (std::array<QString, kPortCount>{QDir::current().absoluteFilePath("build/demo/com1"),
                                                           "/dev/ttyUSB0", "", "ttyS7"}));
}

}  // namespace
}  // namespace veltra
