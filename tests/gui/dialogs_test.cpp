// The small dialogs' OK checks and the prompter's boxes.

#include "gui/cndstepsdlg.h"
#include "gui/cportsettingsdlg.h"
#include "gui/qt_prompter.h"
#include "modal_watcher.h"

#include <QFileDialog>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace veltra {
namespace {

// Types into the field and clicks OK: the warning's text, empty when the dialog accepted.
QString typeAndOk(TemplateDialog& dlg, int field, const char* typed) {
    test::ModalWatcher watcher;
    dlg.show();
    QTest::keyClicks(dlg.control(field), typed);
    dlg.control<QPushButton>(1)->click();
    EXPECT_EQ(dlg.isVisible(), !watcher.boxes.empty()) << "only a refused OK keeps the dialog open";
    EXPECT_LE(watcher.boxes.size(), 1u);
    const test::ModalWatcher::Box none{"Warning", "", QMessageBox::Warning, QMessageBox::Ok};
    const auto box = watcher.boxes.empty() ? none : watcher.boxes[0];
    EXPECT_TRUE(box.title == "Warning" && box.icon == QMessageBox::Warning && box.buttons == QMessageBox::Ok);
    return box.text;
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
                        : typeAndOk(portDlg, CPortSettingsDlg::kSendBufferList, typed), warning) << typed;
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
    EXPECT_EQ(watcher.boxes, (std::vector{warning, confirm, confirm}));

    watcher.dialogs.append([](QDialog* d) {
        auto* fd = qobject_cast<QFileDialog*>(d);
        ASSERT_NE(fd, nullptr);
        EXPECT_EQ(fd->nameFilters(), (QStringList{"Veltra Config (*.cfg)", "All Files (*.*)"}));
        EXPECT_EQ(fd->defaultSuffix(), QStringLiteral("cfg"));
        EXPECT_TRUE(fd->testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_EQ(fd->acceptMode(), QFileDialog::AcceptSave);
        fd->reject();
    });
    EXPECT_EQ(prompter.chooseConfigFile(true), std::nullopt);
    EXPECT_TRUE(watcher.dialogs.empty());
}

}  // namespace
}  // namespace veltra
