#pragma once

#include "gui/table_dialog.h"

namespace veltra {

// "Neutral Density Shutter Steps": asks for a step count. OK refuses an empty
// text and counts above 144 with a warning and stays open.
class CNdStepsDlg : public TableDialog {
    Q_OBJECT
public:
    explicit CNdStepsDlg(QWidget* parent = nullptr);

    static const ControlTable& layout();

    // The text of the steps edit.
    QString steps() const;

    static constexpr int kStepsEdit = 1099;

private:
    void onOk();
};

}  // namespace veltra
