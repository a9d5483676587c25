#include "gui/accessibility.h"

#include "gui/log_view.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QPointer>
#include <QScrollBar>
#include <QWindow>

#include <cstdint>
#include <unordered_map>

namespace veltra {

namespace {

// A radio button or check box. Qt's own interface toggles the mark for the
// "Toggle" action without a click, so the panel's handlers (which listen to
// clicks) would not run and the screen would show a choice never sent; here
// every action is a click. The role does not depend on auto-exclusivity.
class CheckableButtonAccessible : public QAccessibleWidget {
public:
    CheckableButtonAccessible(QAbstractButton* button, QAccessible::Role role) : QAccessibleWidget(button, role) {}

    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }

    QString text(QAccessible::Text t) const override {
        // No fixed name: the caption, as it reads now.
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return button()->text();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = button()->isChecked();
        s.pressed = button()->isDown();
        return s;
    }

    QStringList actionNames() const override {
        QStringList names;
        if (widget()->isEnabled())
            names << toggleAction() << pressAction();
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override {
        if (action != toggleAction() && action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        // The click comes on the next turn of the event loop, as Qt's own
        // "Press" does: a handler that opens a dialog must not hold up the
        // assistive tool's call until the dialog is closed.
        if (widget()->isEnabled())
            QMetaObject::invokeMethod(button(), &QAbstractButton::click, Qt::QueuedConnection);
    }

    QStringList keyBindingsForAction(const QString&) const override { return {}; }
};

class LogViewAccessible;

// One row of the received-data list.
class LogItemAccessible : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    LogItemAccessible(LogView* view, int row) : m_view(view), m_row(row) {}

    bool isValid() const override { return m_view && m_row < m_view->rowCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_view); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    void setText(QAccessible::Text, const QString&) override {}

    QString text(QAccessible::Text t) const override {
        return (t == QAccessible::Name && isValid()) ? m_view->lineText(m_row) : QString();
    }

    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect r = m_view->rowRect(m_row);
        return r.isEmpty() ? QRect() : r.translated(m_view->viewport()->mapToGlobal(QPoint(0, 0)));
    }

    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.focusable = true;
        s.selected = isSelected();
        s.focused = s.selected && m_view->hasFocus();
        s.offscreen = m_view->rowRect(m_row).isEmpty();
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType t) override {
        return t == QAccessible::TableCellInterface ? static_cast<QAccessibleTableCellInterface*>(this) : nullptr;
    }

    bool isSelected() const override { return m_view && m_view->selectedRow() == m_row; }
    QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return 0; }
    int rowIndex() const override { return m_row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

private:
    QPointer<LogView> m_view;
    int m_row;
};

// The received-data list: a list (a one-column table to the bridge) whose
// children are its rows. Row objects are made when asked for and kept until
// the rows start over.
class LogViewAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit LogViewAccessible(LogView* view) : QAccessibleWidget(view, QAccessible::List) {
        m_reset = QObject::connect(view, &LogView::rowsReset, view, [this] { dropItems(); });
    }
    ~LogViewAccessible() override {
        QObject::disconnect(m_reset);
        dropItems();
    }

    LogView* view() const { return static_cast<LogView*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    int childCount() const override { return view()->rowCount(); }
    QAccessibleInterface* child(int index) const override { return item(index); }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child || child->role() != QAccessible::ListItem || child->parent() != this)
            return -1;
        return static_cast<const LogItemAccessible*>(child)->rowIndex();
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint p = view()->viewport()->mapFromGlobal(QPoint(x, y));
        if (!view()->viewport()->rect().contains(p))
            return nullptr;
        return item(view()->firstVisibleRow() + p.y() / view()->rowHeight());
    }
    QAccessibleInterface* focusChild() const override {
        return view()->hasFocus() ? item(view()->selectedRow()) : nullptr;
    }

    // Table.
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override { return column == 0 ? item(row) : nullptr; }
    int selectedCellCount() const override { return selectedRowCount(); }
    QList<QAccessibleInterface*> selectedCells() const override {
        QAccessibleInterface* i = item(view()->selectedRow());
        return i ? QList<QAccessibleInterface*>{i} : QList<QAccessibleInterface*>{};
    }
    QString columnDescription(int) const override { return {}; }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return view()->selectedRow() >= 0 ? 1 : 0; }
    int columnCount() const override { return 1; }
    int rowCount() const override { return view()->rowCount(); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override {
        return view()->selectedRow() >= 0 ? QList<int>{view()->selectedRow()} : QList<int>{};
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override { return row >= 0 && row == view()->selectedRow(); }
    bool selectRow(int row) override {
        if (row < 0 || row >= view()->rowCount())
            return false;
        view()->setSelectedRow(row);
        return true;
    }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override {
        if (!isRowSelected(row))
            return false;
        view()->setSelectedRow(-1);
        return true;
    }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* event) override {
        if (event->modelChangeType() == QAccessibleTableModelChangeEvent::ModelReset)
            dropItems();
    }

private:
    QAccessibleInterface* item(int row) const {
        if (row < 0 || row >= view()->rowCount())
            return nullptr;
        auto it = m_items.find(row);
        if (it == m_items.end())
            it = m_items.emplace(row, QAccessible::registerAccessibleInterface(new LogItemAccessible(view(), row))).first;
        return QAccessible::accessibleInterface(it->second);
    }

    void dropItems() const {
        for (const auto& [row, id] : m_items)
            QAccessible::deleteAccessibleInterface(id);
        m_items.clear();
    }

    mutable std::unordered_map<int, QAccessible::Id> m_items;
    QMetaObject::Connection m_reset;
};

QAccessibleInterface* factory(const QString& className, QObject* object) {
    if (className == QLatin1String("QRadioButton"))
        return new CheckableButtonAccessible(static_cast<QAbstractButton*>(object), QAccessible::RadioButton);
    if (className == QLatin1String("QCheckBox"))
        return new CheckableButtonAccessible(static_cast<QAbstractButton*>(object), QAccessible::CheckBox);
    if (className == QLatin1String(LogView::staticMetaObject.className()))
        return new LogViewAccessible(static_cast<LogView*>(object));
    return nullptr;
}

}  // namespace

void installAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

}  // namespace veltra
