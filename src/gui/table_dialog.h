#pragma once

#include "gui/control_table.h"

#include <QDialog>

#include <map>

class QScrollArea;

namespace veltra {

// A dialog whose controls come from a control table, laid out in dialog
// units of the dialog font. Small dialogs have a fixed size; the main panel
// puts its controls into a scroll area so all of them stay reachable in a
// window shorter than the template.
class TableDialog : public QDialog {
    Q_OBJECT
public:
    enum class Frame { Fixed, Scrollable };

    TableDialog(const ControlTable& layout, Frame frame, QWidget* parent = nullptr);

    // The control of that id, or nullptr.
    QWidget* control(int id) const;
    template <class T>
    T* control(int id) const {
        return qobject_cast<T*>(control(id));
    }
    const DialogUnits& units() const { return m_units; }
    // Size of the template's client area in pixels.
    QSize templateSize() const { return m_templateSize; }
    // Widgets in table order.
    const std::vector<QWidget*>& controls() const { return m_widgets; }
    // Where the controls live (the dialog itself, or the scroll area's page).
    QWidget* page() const { return m_page; }
    QScrollArea* scrollArea() const { return m_scroll; }

private:
    DialogUnits m_units;
    QSize m_templateSize;
    QWidget* m_page = nullptr;
    QScrollArea* m_scroll = nullptr;
    std::vector<QWidget*> m_widgets;
    std::map<int, QWidget*> m_byId;
};

}  // namespace veltra
