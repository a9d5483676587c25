#include "gui/qt_prompter.h"

#include "gui/cndstepsdlg.h"

#include <QFileDialog>
#include <QMessageBox>

namespace veltra {

void showWarningBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), text, QMessageBox::Ok, parent);
    box.exec();
}

bool showConfirmBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Warning"), text,
                    QMessageBox::Ok | QMessageBox::Cancel, parent);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

void showErrorBox(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
    box.exec();
}

void QtPrompter::warning(const std::string& text) {
    showWarningBox(m_parent, QString::fromStdString(text));
}

bool QtPrompter::confirm(const std::string& text) {
    return showConfirmBox(m_parent, QString::fromStdString(text));
}

std::optional<std::string> QtPrompter::askNdSteps() {
    CNdStepsDlg dlg(m_parent);
    if (dlg.exec() != QDialog::Accepted)
        return std::nullopt;
    return dlg.steps().toStdString();
}

std::optional<std::string> QtPrompter::chooseConfigFile(bool save) {
    QFileDialog dlg(m_parent);
    dlg.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Any name may be chosen: saving replaces without asking, loading tests
    // nothing before it opens the file.
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
    dlg.setNameFilters({QString::fromUtf8(kConfigFileFilters[0]), QString::fromUtf8(kConfigFileFilters[1])});
    dlg.setDefaultSuffix(QStringLiteral("cfg"));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return std::nullopt;
    return dlg.selectedFiles().constFirst().toStdString();
}

void QtPrompter::error(const std::string& title, const std::string& text) {
    showErrorBox(m_parent, QString::fromStdString(title), QString::fromStdString(text));
}

}  // namespace veltra
