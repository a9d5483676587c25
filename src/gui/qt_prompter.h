#pragma once

#include "panel/prompter.h"

#include <QPointer>
#include <QString>
#include <QWidget>

namespace veltra {

// The program's message boxes. Titles and icons are fixed by kind.
void showWarningBox(QWidget* parent, const QString& text);               // "Warning", exclamation, OK
bool showConfirmBox(QWidget* parent, const QString& text);               // "Warning", information, OK/Cancel
void showErrorBox(QWidget* parent, const QString& title, const QString& text);  // critical, OK

// Prompter of the Qt front end: real modal boxes and dialogs over `parent`.
class QtPrompter : public Prompter {
public:
    explicit QtPrompter(QWidget* parent) : m_parent(parent) {}

    void warning(const std::string& text) override;
    bool confirm(const std::string& text) override;
    std::optional<std::string> askNdSteps() override;
    std::optional<std::string> chooseConfigFile(bool save) override;
    void error(const std::string& title, const std::string& text) override;

private:
    QPointer<QWidget> m_parent;
};

// Filters of the configuration file dialog, in order.
inline constexpr const char* kConfigFileFilters[] = {"Veltra Config (*.cfg)", "All Files (*.*)"};

}  // namespace veltra
