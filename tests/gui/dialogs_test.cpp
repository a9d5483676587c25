// The small dialogs' OK checks, the prompter's boxes and why a port did not open.

#include "gui/cndstepsdlg.h"
#include "gui/cportsettingsdlg.h"
#include "gui/cshutterpaneldlg.h"
#include "gui/panel_controls.h"
#include "gui/port_memory.h"
#include "gui/qt_prompter.h"
#include "modal_watcher.h"
#include "serial/open_failure.h"
#include "support/qt_print.h"

#include <QFileDialog>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace veltra {
namespace {

using Boxes = std::vector<test::ModalWatcher::Box>;

// Types into the field and clicks OK: the boxes that came up.
Boxes typeAndOk(TableDialog& dlg, int field, const char* typed) {
    test::ModalWatcher watcher;
    dlg.show();
    QTest::keyClicks(dlg.control(field), typed);
    dlg.control<QPushButton>(1)->click();
    EXPECT_EQ(dlg.isVisible(), !watcher.boxes.empty()) << "only a refused OK keeps the dialog open";
    return watcher.boxes;
}

TEST(SmallDialogsTest, okRefusesBadInputWithAWarningAndStaysOpen) {
    const QString sendBuffer = CPortSettingsDlg::sendBufferMessage();
    const std::tuple<bool, const char*, QString> rows[] = {  // steps dialog?, typed, warning
        {false, "abc", sendBuffer}, {false, "0", sendBuffer}, {false, "5", sendBuffer}, {false, "6", ""},
        {true, "", "No steps. Please enter the number!"}, {true, "144", ""},  // the steps' limits: checkNdSteps's table
    };
    for (const auto& [steps, typed, warning] : rows) {
        CNdStepsDlg stepsDlg;
        CPortSettingsDlg portDlg(PortSettings{9600, 8, kParityNone, kStopBitsOne, 0});
        portDlg.setSendBufferText("");
        EXPECT_EQ(steps ? typeAndOk(stepsDlg, CNdStepsDlg::kStepsEdit, typed)
                        : typeAndOk(portDlg, CPortSettingsDlg::kSendBufferList, typed),
                  (warning.isEmpty() ? Boxes{} : Boxes{{"Warning", warning, QMessageBox::Warning, QMessageBox::Ok}}))
            << typed;
    }
}

// Its warning and question boxes: the panel's accessible-action test.
// What "Configurate" chose comes back at the next start field by field; a
// field the port cannot use is ignored with a line on stderr that names it,
// and the port keeps its start value for that field alone.
TEST(PortMemoryTest, unusableRememberedFieldsAreEachIgnoredWithALine) {
    const RememberedPort start{"", {9600, 'N', 8, 1, 255}};
    const RememberedPort chosen{"/dev/ttyUSB3", {19200, 'E', 7, 2, 512}};
    const struct { const char* key; QVariant value; PortSettingsRequest kept; } rows[] = {
        {"baud", "fast", {9600, 'E', 7, 2, 512}},
        {"baud", 0, {9600, 'E', 7, 2, 512}},
        {"parity", "X", {19200, 'N', 7, 2, 512}},
        {"parity", "Even", {19200, 'N', 7, 2, 512}},
        {"dataBits", 9, {19200, 'E', 8, 2, 512}},
        {"dataBits", 4, {19200, 'E', 8, 2, 512}},
        {"stopBits", 3, {19200, 'E', 7, 1, 512}},
        {"sendBuffer", 5, {19200, 'E', 7, 2, 255}},  // the longest command would not fit
        {"sendBuffer", "lots", {19200, 'E', 7, 2, 255}},
    };
    QTemporaryDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.key) + " " + row.value.toString().toStdString());
        QSettings memory(dir.filePath("memory.conf"), QSettings::IniFormat);
        memory.clear();
        rememberPort(memory, 2, chosen);
        memory.setValue(QStringLiteral("COM2/%1").arg(QLatin1String(row.key)), row.value);
        testing::internal::CaptureStderr();
        const RememberedPort got = rememberedPort(memory, 2, start);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(got, (RememberedPort{chosen.device, row.kept}));
        EXPECT_NE(said.find("COM2/" + std::string(row.key) + " in "), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }
    // All usable: all of it, silently; nothing remembered: the start, silently.
    QSettings memory(dir.filePath("memory.conf"), QSettings::IniFormat);
    rememberPort(memory, 2, chosen);
    testing::internal::CaptureStderr();
    EXPECT_EQ(rememberedPort(memory, 2, start), chosen);
    EXPECT_EQ(rememberedPort(memory, 3, start), start);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(QtPrompterTest, theConfigFileDialog) {
    test::ModalWatcher watcher;
    QtPrompter prompter(nullptr);
    watcher.dialogs.append([](QDialog* d) {
        auto* fd = qobject_cast<QFileDialog*>(d);
        ASSERT_NE(fd, nullptr);
        EXPECT_EQ(fd->nameFilters(), (QStringList{"Veltra Config (*.cfg)", "All Files (*.*)"}));
        EXPECT_EQ(std::tuple(fd->defaultSuffix(), fd->testOption(QFileDialog::DontConfirmOverwrite), fd->acceptMode()),
                  std::tuple(QStringLiteral("cfg"), true, QFileDialog::AcceptSave));
        fd->reject();
    });
    EXPECT_EQ(prompter.chooseConfigFile(true), std::nullopt);
    EXPECT_TRUE(watcher.dialogs.empty());
}

TEST(PortFailureTest, reasonTellsMissingPlainFileBusyAndPermissionApart) {
    using K = DeviceNode::Kind;
    using E = QSerialPort::SerialPortError;
    const std::tuple<DeviceNode, E, const char*> rows[] = {
        {{K::Missing, "", "", false, ""}, E::OpenError, "does not exist"},
        {{K::Other, "a regular file", "users", true, ""}, E::OpenError, "not a serial device (a regular file)"},
        {{K::Other, "a regular file", "dialout", false, ""}, E::PermissionError, "not a serial device (a regular file)"},
        {{K::CharDevice, "", "dialout", false, ""}, E::PermissionError,
         "permission denied \u2014 add your user to the dialout group (sudo usermod -aG dialout $USER, then log in again)"},
        {{K::CharDevice, "", "tty", false, ""}, E::PermissionError, "permission denied (group tty)"},
        {{K::CharDevice, "", "dialout", true, ""}, E::PermissionError, "in use by another program"},
        {{K::CharDevice, "", "dialout", true, ""}, E::OpenError, "cannot be opened: busy"},
        {{K::CharDevice, "", "dialout", true, "/run/lock/LCK..ttyS0"}, E::PermissionError,
         "locked by the stale lock file /run/lock/LCK..ttyS0 of a program that has ended, which cannot be removed "
         "\u2014 remove that file (as its owner or with sudo)"},
    };
    for (const auto& [node, error, want] : rows)
        EXPECT_EQ(openFailureReason(node, error, "busy"), QString::fromUtf8(want)) << want;
    EXPECT_EQ(portFailureLine(1, "/dev/ttyUSB0", "does not exist"), QStringLiteral("COM1 (/dev/ttyUSB0): does not exist"));
}

// A lock file whose process has ended is stale; one of a running process or
// one that names none is not.
TEST(PortFailureTest, aLockFileIsStaleWhenItsProcessHasEnded) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    QTemporaryDir dir;
    const std::pair<QByteArray, bool> rows[] = {
        {QByteArray::number(child) + "\nveltra-utility\nhost\n", true},
        {QByteArray::number(::getpid()) + "\nveltra-utility\nhost\n", false},
        {"      " + QByteArray::number(child) + "\n", true},  // the old ten-column text
        {"garbage\n", false},
    };
    for (const auto& [content, stale] : rows) {
        QFile f(dir.filePath("LCK..ttyS0"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content), f.close();
        EXPECT_EQ(lockFileIsStale(f.fileName()), stale) << content.toStdString();
    }
    EXPECT_FALSE(lockFileIsStale(dir.filePath("none")));
}

// COM1 a plain file, the others missing: a line each at start-up and after a
// failed "Configurate". (The dialog itself: the remembered ports' test.)
TEST(PortFailureTest, devicesOnThisSystemTheLinesAtStartUpAndTheConfigurationDialog) {
    QTemporaryFile plain;
    ASSERT_TRUE(plain.open());
    EXPECT_EQ(inspectDeviceNode("/dev/null").kind, DeviceNode::Kind::CharDevice);  // the others by the lines below

    QStringList lines;
    PanelOptions o{{plain.fileName(), "/nonexistent/veltra-com2", "/nonexistent/veltra-com3", "/nonexistent/veltra-com4"}};
    o.portFailureReporter = [&lines](const QString& line) { lines << line; };
    CShutterPanelDlg dlg(o);
    dlg.startUp();
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], QStringLiteral("COM1 (%1): not a serial device (a regular file)").arg(plain.fileName()));
    EXPECT_EQ(lines[1], QStringLiteral("COM2 (/nonexistent/veltra-com2): does not exist"));
    EXPECT_EQ(dlg.control(ctl::kStatusCom1 + 1)->toolTip(), lines[1]);

    test::ModalWatcher watcher;
    watcher.dialogs.append([](QDialog* d) { d->accept(); });  // OK: the same missing device again
    dlg.control<QPushButton>(ctl::kConfigurateCom1 + 1)->click();
    EXPECT_EQ(lines.size(), 5);  // the failed reopen is told as well
}

}  // namespace
}  // namespace veltra
