// The small dialogs and the message boxes: port settings, steps, prompter.

#include "gui/cndstepsdlg.h"
#include "gui/cportsettingsdlg.h"
#include "gui/qt_prompter.h"
#include "modal_watcher.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace veltra {
namespace {

QComboBox* list(CPortSettingsDlg& dlg, int id) { return dlg.control<QComboBox>(id); }

QStringList items(QComboBox* c) {
    QStringList out;
    for (int i = 0; i < c->count(); ++i)
        out.append(c->itemText(i));
    return out;
}

TEST(PortSettingsDlgTest, listsHoldTheirItemsInOrder) {
    CPortSettingsDlg dlg(PortSettings{9600, 8, kParityNone, kStopBitsOne, 0});
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Port Configuration"));
    EXPECT_EQ(items(list(dlg, CPortSettingsDlg::kBaudList)),
              (QStringList{"19200", "9600", "2400", "1200", "300"}));
    EXPECT_EQ(items(list(dlg, CPortSettingsDlg::kParityList)),
              (QStringList{"NONE", "ODD", "EVEN", "MARK", "SPACE"}));
    EXPECT_EQ(items(list(dlg, CPortSettingsDlg::kDataBitsList)), (QStringList{"8", "7", "6"}));
    EXPECT_EQ(items(list(dlg, CPortSettingsDlg::kStopBitsList)), (QStringList{"1", "1.5", "2"}));
    EXPECT_EQ(items(list(dlg, CPortSettingsDlg::kSendBufferList)),
              (QStringList{"255", "512", "1024", "2048", "4096"}));
    EXPECT_TRUE(list(dlg, CPortSettingsDlg::kSendBufferList)->isEditable());
    EXPECT_TRUE(list(dlg, CPortSettingsDlg::kDeviceList)->isEditable());
    for (int id : {CPortSettingsDlg::kBaudList, CPortSettingsDlg::kParityList, CPortSettingsDlg::kDataBitsList,
                   CPortSettingsDlg::kStopBitsList})
        EXPECT_FALSE(list(dlg, id)->isEditable()) << id;
}

TEST(PortSettingsDlgTest, listsCarryTheirLabelsAsNames) {
    CPortSettingsDlg dlg(PortSettings{});
    const std::pair<int, const char*> rows[] = {
        {CPortSettingsDlg::kBaudList, "BaudRate:"},       {CPortSettingsDlg::kParityList, "Parity:"},
        {CPortSettingsDlg::kDataBitsList, "Databits:"},   {CPortSettingsDlg::kStopBitsList, "Stopbits:"},
        {CPortSettingsDlg::kSendBufferList, "Sendbuffer:"}, {CPortSettingsDlg::kDeviceList, "Device:"},
    };
    for (const auto& [id, name] : rows)
        EXPECT_EQ(dlg.control(id)->accessibleName(), QString::fromUtf8(name)) << id;
}

struct PreselectRow {
    PortSettings settings;
    const char* baud;
    const char* parity;
    const char* dataBits;
    const char* stopBits;
};

class PortSettingsPreselectTest : public ::testing::TestWithParam<PreselectRow> {};

TEST_P(PortSettingsPreselectTest, listsShowThePortsCurrentSettings) {
    const PreselectRow r = GetParam();
    CPortSettingsDlg dlg(r.settings);
    dlg.setSendBufferText(QStringLiteral("512"));
    EXPECT_EQ(dlg.baudText(), QString::fromUtf8(r.baud));
    EXPECT_EQ(dlg.parityText(), QString::fromUtf8(r.parity));
    EXPECT_EQ(dlg.dataBitsText(), QString::fromUtf8(r.dataBits));
    EXPECT_EQ(dlg.stopBitsText(), QString::fromUtf8(r.stopBits));
    EXPECT_EQ(dlg.sendBufferText(), QStringLiteral("512"));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PortSettingsPreselectTest,
    ::testing::Values(PreselectRow{{9600, 8, kParityNone, kStopBitsOne, 0}, "9600", "NONE", "8", "1"},
                      PreselectRow{{2400, 7, kParityEven, kStopBitsTwo, 0}, "2400", "EVEN", "7", "2"},
                      PreselectRow{{300, 6, kParitySpace, kStopBitsOneAndHalf, 0}, "300", "SPACE", "6", "1.5"},
                      PreselectRow{{19200, 8, kParityMark, kStopBitsOne, 0}, "19200", "MARK", "8", "1"},
                      // A value the lists lack is offered as it is.
                      PreselectRow{{115200, 5, kParityOdd, kStopBitsOne, 0}, "115200", "ODD", "5", "1"},
                      // A port never opened: the first items.
                      PreselectRow{{0, 0, kParityNone, kStopBitsOne, 0}, "19200", "NONE", "8", "1"}));

TEST(PortSettingsDlgTest, sendBufferTextIsShownAsGiven) {
    CPortSettingsDlg dlg(PortSettings{9600, 8, 0, 0, 0});
    dlg.setSendBufferText(QStringLiteral("100"));
    EXPECT_EQ(dlg.sendBufferText(), QStringLiteral("100"));
    dlg.setSendBufferText(QStringLiteral("4096"));
    EXPECT_EQ(list(dlg, CPortSettingsDlg::kSendBufferList)->currentIndex(), 4);
}

TEST(PortSettingsDlgTest, deviceIsPresetAndTypedNamesComeBack) {
    CPortSettingsDlg dlg(PortSettings{9600, 8, 0, 0, 0});
    dlg.setDeviceName(QStringLiteral("/dev/pts/77"));
    EXPECT_EQ(dlg.deviceName(), QStringLiteral("/dev/pts/77"));
    auto* device = list(dlg, CPortSettingsDlg::kDeviceList);
    device->setEditText(QStringLiteral("  /dev/ttyUSB3 "));
    EXPECT_EQ(dlg.deviceName(), QStringLiteral("/dev/ttyUSB3"));
}

class SendBufferRefusedTest : public ::testing::TestWithParam<const char*> {};

TEST_P(SendBufferRefusedTest, okWarnsAndTheDialogStaysOpen) {
    test::ModalWatcher watcher;
    CPortSettingsDlg dlg(PortSettings{9600, 8, 0, 0, 0});
    dlg.setSendBufferText(QStringLiteral("512"));
    dlg.show();
    list(dlg, CPortSettingsDlg::kSendBufferList)->setEditText(QString::fromUtf8(GetParam()));
    dlg.control<QPushButton>(1)->click();
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(watcher.boxes[0].title, QStringLiteral("Warning"));
    EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(watcher.boxes[0].text, CPortSettingsDlg::sendBufferMessage());
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_NE(dlg.result(), QDialog::Accepted);
}

INSTANTIATE_TEST_SUITE_P(Rows, SendBufferRefusedTest, ::testing::Values("abc", "0", "5", "", "-512"));

class SendBufferAcceptedTest : public ::testing::TestWithParam<const char*> {};

TEST_P(SendBufferAcceptedTest, okCloses) {
    test::ModalWatcher watcher;
    CPortSettingsDlg dlg(PortSettings{9600, 8, 0, 0, 0});
    dlg.show();
    list(dlg, CPortSettingsDlg::kSendBufferList)->setEditText(QString::fromUtf8(GetParam()));
    dlg.control<QPushButton>(1)->click();
    EXPECT_TRUE(watcher.boxes.empty());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.sendBufferText(), QString::fromUtf8(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Rows, SendBufferAcceptedTest, ::testing::Values("6", "300abc", " 512", "4096"));

TEST(NdStepsDlgTest, layoutAndFocusFollowTheTemplate) {
    CNdStepsDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Neutral Density Shutter Steps"));
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    EXPECT_EQ(dlg.focusWidget(), dlg.control(1));
    auto* ok = dlg.control<QPushButton>(1);
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    EXPECT_EQ(dlg.control<QPushButton>(2)->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(dlg.size(), QSize(dlg.units().toPixelsX(186), dlg.units().toPixelsY(95)));
    EXPECT_EQ(dlg.control(CNdStepsDlg::kStepsEdit)->geometry(), dlg.units().toPixels(20, 34, 40, 14));
}

struct StepsRow {
    const char* typed;
    const char* warning;  // empty: accepted
};

class NdStepsOkTest : public ::testing::TestWithParam<StepsRow> {};

TEST_P(NdStepsOkTest, okChecksTheSteps) {
    test::ModalWatcher watcher;
    CNdStepsDlg dlg;
    dlg.show();
    QTest::keyClicks(dlg.control(CNdStepsDlg::kStepsEdit), GetParam().typed);
    dlg.control<QPushButton>(1)->click();
    if (*GetParam().warning) {
        ASSERT_EQ(watcher.boxes.size(), 1u);
        EXPECT_EQ(watcher.boxes[0].title, QStringLiteral("Warning"));
        EXPECT_EQ(watcher.boxes[0].text, QString::fromUtf8(GetParam().warning));
        EXPECT_TRUE(dlg.isVisible());
    } else {
        EXPECT_TRUE(watcher.boxes.empty());
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        EXPECT_EQ(dlg.steps(), QString::fromUtf8(GetParam().typed));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, NdStepsOkTest,
                         ::testing::Values(StepsRow{"", "No steps. Please enter the number!"},
                                           StepsRow{"145", "Steps must be less than 145. Please try again!"},
                                           StepsRow{"37", ""}, StepsRow{"144", ""}, StepsRow{"abc", ""}));

TEST(NdStepsDlgTest, escapeCancels) {
    CNdStepsDlg dlg;
    dlg.show();
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_FALSE(dlg.isVisible());
}

TEST(QtPrompterTest, warningIsAnExclamationBoxWithOk) {
    test::ModalWatcher watcher;
    QtPrompter prompter(nullptr);
    prompter.warning("Watch out");
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(watcher.boxes[0].title, QStringLiteral("Warning"));
    EXPECT_EQ(watcher.boxes[0].text, QStringLiteral("Watch out"));
    EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(watcher.boxes[0].buttons, QMessageBox::Ok);
}

TEST(QtPrompterTest, confirmIsAnInformationBoxWithOkAndCancel) {
    test::ModalWatcher watcher;
    QtPrompter prompter(nullptr);
    watcher.answers = {QMessageBox::Ok, QMessageBox::Cancel};
    EXPECT_TRUE(prompter.confirm("Sure?"));
    EXPECT_FALSE(prompter.confirm("Sure?"));
    ASSERT_EQ(watcher.boxes.size(), 2u);
    EXPECT_EQ(watcher.boxes[0].title, QStringLiteral("Warning"));
    EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Information);
    EXPECT_EQ(watcher.boxes[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
}

TEST(QtPrompterTest, errorIsACriticalBox) {
    test::ModalWatcher watcher;
    QtPrompter prompter(nullptr);
    prompter.error("Veltra Utility", "An attempt was made to access an unnamed file past its end.");
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(watcher.boxes[0].title, QStringLiteral("Veltra Utility"));
    EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Critical);
}

TEST(QtPrompterTest, stepsDialogGivesTheTextOrNothing) {
    test::ModalWatcher watcher;
    QtPrompter prompter(nullptr);
    watcher.dialogs.push_back([](QDialog* d) {
        QTest::keyClicks(d->findChild<QLineEdit*>(QStringLiteral("ctl1099")), "18");
        d->findChild<QPushButton*>(QStringLiteral("ctl1"))->click();
    });
    watcher.dialogs.push_back([](QDialog* d) { d->findChild<QPushButton*>(QStringLiteral("ctl2"))->click(); });
    EXPECT_EQ(prompter.askNdSteps(), std::optional<std::string>("18"));
    EXPECT_EQ(prompter.askNdSteps(), std::nullopt);
}

TEST(QtPrompterTest, configFileDialogOffersCfgFilesAndAddsTheSuffix) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    test::ModalWatcher watcher;
    QtPrompter prompter(nullptr);
    QStringList filters;
    QString suffix;
    bool confirmsOverwrite = true;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
    watcher.dialogs.push_back([&](QDialog* d) {
        auto* fd = qobject_cast<QFileDialog*>(d);
        ASSERT_NE(fd, nullptr);
        filters = fd->nameFilters();
        suffix = fd->defaultSuffix();
        confirmsOverwrite = !fd->testOption(QFileDialog::DontConfirmOverwrite);
        mode = fd->acceptMode();
        fd->setDirectory(dir.path());
        // Typed as the operator would: selectFile() leaves a focused name field alone.
        auto* name = fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QStringLiteral("panel"));
        QMetaObject::invokeMethod(fd, "accept");
    });
    const auto chosen = prompter.chooseConfigFile(true);
    EXPECT_EQ(filters, (QStringList{"Veltra Config (*.cfg)", "All Files (*.*)"}));
    EXPECT_EQ(suffix, QStringLiteral("cfg"));
    EXPECT_FALSE(confirmsOverwrite);
    EXPECT_EQ(mode, QFileDialog::AcceptSave);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(QString::fromStdString(*chosen), dir.filePath(QStringLiteral("panel.cfg")));

    watcher.dialogs.push_back([](QDialog* d) { d->reject(); });
    EXPECT_EQ(prompter.chooseConfigFile(false), std::nullopt);
}

}  // namespace
}  // namespace veltra
