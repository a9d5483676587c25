#include "gui/table_dialog.h"

#include "gui/accessibility.h"

#include <QScrollArea>
#include <QVBoxLayout>

namespace veltra {

TableDialog::TableDialog(const ControlTable& layout, Frame frame, QWidget* parent)
    : QDialog(parent), m_units(1, 1) {
    installAccessibility();
    setFont(dialogFont());
    m_units = DialogUnits::fromFont(font());
    m_templateSize = QSize(m_units.toPixelsX(layout.width), m_units.toPixelsY(layout.height));
    setWindowTitle(QString::fromUtf8(layout.caption));

    if (frame == Frame::Scrollable) {
        m_scroll = new QScrollArea(this);
        m_scroll->setFrameShape(QFrame::NoFrame);
        m_scroll->setWidgetResizable(false);
        m_page = new QWidget;
        m_page->setFixedSize(m_templateSize);
        m_scroll->setWidget(m_page);  // before the controls, so they get the dialog font
        auto* box = new QVBoxLayout(this);
        box->setContentsMargins(0, 0, 0, 0);
        box->addWidget(m_scroll);
    } else {
        m_page = this;
        setFixedSize(m_templateSize);
    }

    m_widgets = buildControls(m_page, layout.controls, m_units);
    for (QWidget* w : m_widgets) {
        const int id = controlId(w);
        if (id != kNoId)
            m_byId.emplace(id, w);
    }
}

QWidget* TableDialog::control(int id) const {
    const auto it = m_byId.find(id);
    return it == m_byId.end() ? nullptr : it->second;
}

}  // namespace veltra
