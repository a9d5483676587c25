#include "gui/accessibility.h"

#include "gui/log_view.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPointer>
#include <QValidator>
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

// A line edit. Qt's own interface reports every text attribute run as empty
// (it starts and ends at the offset asked for); a screen reader that cuts the
// text into runs (Orca does, to pick a voice per language) then hears the
// field without its last character, or without its value at all when the
// value is one character long. Here the whole text is one run; everything
// else is what Qt's interface does.
class LineEditAccessible : public QAccessibleWidget,
                           public QAccessibleTextInterface,
                           public QAccessibleEditableTextInterface {
public:
    explicit LineEditAccessible(QLineEdit* edit) : QAccessibleWidget(edit, QAccessible::EditableText) {}

    QLineEdit* edit() const { return static_cast<QLineEdit*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        if (t == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QString text(QAccessible::Text t) const override {
        QString s;
        if (t == QAccessible::Value)
            s = shownText();
        if (s.isEmpty())
            s = QAccessibleWidget::text(t);
        if (s.isEmpty() && t == QAccessible::Description)
            s = edit()->placeholderText();
        return s;
    }

    void setText(QAccessible::Text t, const QString& text) override {
        if (t != QAccessible::Value) {
            QAccessibleWidget::setText(t, text);
            return;
        }
        replaceAll(text);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = true;
        s.readOnly = edit()->isReadOnly();
        s.passwordEdit = edit()->echoMode() != QLineEdit::Normal;
        s.selectableText = true;
        return s;
    }

    // Text.
    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        if (index == 0 && edit()->hasSelectedText()) {
            *start = edit()->selectionStart();
            *end = *start + static_cast<int>(edit()->selectedText().size());
        }
    }
    int selectionCount() const override { return edit()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override {
        if (index == 0)
            edit()->deselect();
    }
    void setSelection(int index, int start, int end) override {
        if (index == 0)
            edit()->setSelection(start, end - start);
    }
    int cursorPosition() const override { return edit()->cursorPosition(); }
    void setCursorPosition(int position) override { edit()->setCursorPosition(position); }
    QString text(int start, int end) const override {
        if (start > end)
            return {};
        return shownText().mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(shownText().size()); }

    QString attributes(int offset, int* start, int* end) const override {
        // No attribute differs within a line edit: one run over the whole text.
        (void)offset;
        *start = 0;
        *end = characterCount();
        return {};
    }

    QRect characterRect(int offset) const override {
        const QString ch = text(offset, offset + 1);
        const QFontMetrics fm(edit()->font());
        if (ch.isEmpty() || fm.horizontalAdvance(ch) == 0)
            return {};
        // From the caret's place: the text between it and the character.
        const QRect caret = edit()->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        const int cursor = edit()->cursorPosition();
        const QString all = shownText();
        const int x = offset >= cursor ? caret.x() + fm.horizontalAdvance(all.mid(cursor, offset - cursor))
                                       : caret.x() - fm.horizontalAdvance(all.mid(offset, cursor - offset));
        const QRect r(x, caret.y(), fm.horizontalAdvance(ch), caret.height());
        return QRect(edit()->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint& point) const override {
        return edit()->cursorPositionAt(edit()->mapFromGlobal(point));
    }
    void scrollToSubstring(int start, int end) override {
        edit()->setCursorPosition(end);
        edit()->setCursorPosition(start);
    }

    // Editable text: as if typed in one go, never into a read-only field.
    void deleteText(int start, int end) override { replaceText(start, end, {}); }
    void insertText(int offset, const QString& text) override { replaceText(offset, offset, text); }
    void replaceText(int start, int end, const QString& text) override {
        replaceAll(edit()->text().replace(start, end - start, text));
    }

private:
    QString shownText() const {
        switch (edit()->echoMode()) {
        case QLineEdit::Normal: return edit()->text();
        case QLineEdit::NoEcho: return {};
        default: return QString(edit()->text().size(), QLatin1Char('*'));
        }
    }

    void replaceAll(QString text) {
        if (edit()->isReadOnly())
            return;
        int pos = 0;
        if (const QValidator* v = edit()->validator(); v && v->validate(text, pos) != QValidator::Acceptable)
            return;
        edit()->setText(text);
    }
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

// Focus before caret. A line edit that takes the focus selects its text and
// reports its caret and selection from its focus-in handler, and Qt announces
// the focus only after that handler. A screen reader that hears of the caret
// first takes the edit for the focus already, moves there without a word and
// then treats the focus announcement as old news: the field the operator is
// about to type into is never spoken. So the caret and selection events of
// the focus widget before its focus announcement go nowhere: the announcement
// itself tells where the caret is and what is selected (a screen reader reads
// both when it speaks the field). Nor do those of the line edit being left,
// which clears its selection on the way out: a screen reader would say "text
// unselected" over the next control. Every other event goes out as it comes.
class FocusFirst {
public:
    static void update(QAccessibleEvent* event) { instance().handle(event); }

private:
    static FocusFirst& instance() {
        static FocusFirst f;
        return f;
    }

    void handle(QAccessibleEvent* event) {
        QObject* object = event->object();
        const QAccessible::Event type = event->type();
        const QWidget* focus = QApplication::focusWidget();
        const bool caret = type == QAccessible::TextCaretMoved || type == QAccessible::TextSelectionChanged;
        // Between a focus change and its announcement, `m_announced` is the
        // widget left and `focus` the one taking over. With the window
        // inactive nothing has the focus, and what gets it back on return is
        // announced anew.
        if (!focus)
            m_announced = nullptr;
        else if (caret && object && (object == focus) != (object == m_announced))
            return;
        if (type == QAccessible::Focus)
            m_announced = object;
        forward(event);
    }

    // To the platform's bridge, as if no handler were installed.
    static void forward(QAccessibleEvent* event) {
        QAccessible::installUpdateHandler(nullptr);
        QAccessible::updateAccessibility(event);
        QAccessible::installUpdateHandler(&FocusFirst::update);
    }

    QPointer<QObject> m_announced;  // the object of the last focus announcement
};

QAccessibleInterface* factory(const QString& className, QObject* object) {
    if (className == QLatin1String("QRadioButton"))
        return new CheckableButtonAccessible(static_cast<QAbstractButton*>(object), QAccessible::RadioButton);
    if (className == QLatin1String("QLineEdit"))
        return new LineEditAccessible(static_cast<QLineEdit*>(object));
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
        QAccessible::installUpdateHandler(&FocusFirst::update);
        return true;
    }();
    (void)installed;
}

}  // namespace veltra
