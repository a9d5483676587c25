// The small dialogs' OK checks, the prompter's boxes and the command line's devices.

#include "app/app_options.h"
#include "gui/cndstepsdlg.h"
#include "gui/cportsettingsdlg.h"
#include "gui/qt_prompter.h"
#include "modal_watcher.h"

#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace veltra {
namespace {

using Boxes = std::vector<test::ModalWatcher::Box>;

// Types into the field and clicks OK: the boxes that came up.
Boxes typeAndOk(TemplateDialog& dlg, int field, const char* typed) {
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
        {true, "", "No steps. Please enter the number!"},
        {true, "145", "Steps must be less than 145. Please try again!"}, {true, "144", ""},
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

TEST(QtPrompterTest, boxesAndTheConfigFileDialog) {
    test::ModalWatcher watcher;
    watcher.answers = {QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Cancel};
    QtPrompter prompter(nullptr);
    prompter.warning("Watch out");
    EXPECT_TRUE(prompter.confirm("Sure?"));
    EXPECT_FALSE(prompter.confirm("Sure?"));
    const test::ModalWatcher::Box warning{"Warning", "Watch out", QMessageBox::Warning, QMessageBox::Ok},
        confirm{"Warning", "Sure?", QMessageBox::Information, QMessageBox::Ok | QMessageBox::Cancel};
    EXPECT_EQ(watcher.boxes, (Boxes{warning, confirm, confirm}));

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

TEST(CommandLineTest, portDevicesKeepNamesAndAnchorRelativePaths) {
    const AppOptions o = parseAppOptions(
        {"veltra-utility", "--port", "1=build/demo/com1", "--port", "2=/dev/ttyUSB0", "--port", "4=ttyS7"});
    ASSERT_EQ(o.action, AppOptions::Action::Run);
    EXPECT_EQ(o.devices, (std::array<QString, kPortCount>{QDir::current().absoluteFilePath("build/demo/com1"),
                                                           "/dev/ttyUSB0", "", "ttyS7"}));
}

}  // namespace
}  // namespace veltra
