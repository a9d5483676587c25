#include "gui/cndstepsdlg.h"

#include "gui/qt_prompter.h"
#include "panel/field_checks.h"

#include <QLineEdit>
#include <QPushButton>

#include <array>

namespace veltra {

namespace {

using K = ControlKind;

// Template 131, in tab order: the focus starts on OK.
constexpr std::array kRows = std::to_array<ControlRow>({
    {1, K::DefPushButton, "OK", 129, 54, 50, 14},
    {2, K::PushButton, "Cancel", 129, 74, 50, 14},
    {kNoId, K::Label, "Please Enter Steps Between 1-144:", 20, 20, 113, 8},
    {CNdStepsDlg::kStepsEdit, K::Edit, "", 20, 34, 40, 14, kNoFlags, "Please Enter Steps Between 1-144:"},
});

const ControlTable kLayout{"Neutral Density Shutter Steps", 186, 95, kRows};

}  // namespace

const ControlTable& CNdStepsDlg::layout() { return kLayout; }

CNdStepsDlg::CNdStepsDlg(QWidget* parent) : TableDialog(kLayout, Frame::Fixed, parent) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    auto* ok = control<QPushButton>(1);
    connect(ok, &QPushButton::clicked, this, &CNdStepsDlg::onOk);
    connect(control<QPushButton>(2), &QPushButton::clicked, this, &QDialog::reject);
    ok->setFocus();
}

QString CNdStepsDlg::steps() const { return control<QLineEdit>(kStepsEdit)->text(); }

void CNdStepsDlg::onOk() {
    if (const auto message = checkNdSteps(steps().toStdString())) {
        showWarningBox(this, QString::fromStdString(*message));
        return;  // stays open for another try
    }
    accept();
}

}  // namespace veltra
