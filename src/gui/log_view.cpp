#include "gui/log_view.h"

#include "gui/accessibility.h"

#include "model/received_log.h"

#include <QAccessible>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <cstdlib>

namespace veltra {

namespace {

// Distinct line texts kept laid out.
constexpr qsizetype kShapedLines = 1024;

// The list's scroll bar. Following a fast line moves its range a few rows at
// a time, which mostly leaves the handle where it was drawn (a long log keeps
// it at its least length, at the bottom): it repaints only when what it
// shows changes, not at every new row.
class LogScrollBar : public QScrollBar {
public:
    explicit LogScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {}

    // Range, page and value set as one change: the steps between them
    // (a larger range, the value not yet at its end) are never drawn.
    void setAll(int maximum, int pageStep, bool toEnd) {
        m_batch = true;
        setPageStep(pageStep);
        setRange(0, maximum);
        if (toEnd)
            setValue(maximum);
        m_batch = false;
        if (look() != m_drawn)
            update();
    }

protected:
    void sliderChange(SliderChange change) override {
        if (change == SliderOrientationChange || (!m_batch && look() != m_drawn))
            QScrollBar::sliderChange(change);
    }

    void paintEvent(QPaintEvent* event) override {
        m_drawn = look();
        QScrollBar::paintEvent(event);
    }

private:
    // The handle's place and the ends it touches (which grey out an arrow).
    struct Look {
        QRect handle;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look&) const = default;
    };

    Look look() const {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
                value() == minimum(), value() == maximum()};
    }

    Look m_drawn;
    bool m_batch = false;
};

}  // namespace

LogView::LogView(QWidget* parent) : QAbstractScrollArea(parent) {
    installAccessibility();
    setVerticalScrollBar(new LogScrollBar(this));
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setBackgroundRole(QPalette::Base);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    m_rowHeight = fontMetrics().height() + 1;
    // The scroll bar counts rows.
    verticalScrollBar()->setSingleStep(1);
}

void LogView::scrollContentsBy(int, int dy) {
    // The rows already drawn move with the scroll bar; only the rows it
    // uncovers are painted, so following a fast line redraws a few rows.
    // A step past the whole viewport leaves nothing worth moving.
    if (std::abs(dy) > visibleRows())
        viewport()->update();
    else
        viewport()->scroll(0, dy * m_rowHeight);
}

QString LogView::lineText(int row) const {
    // The log may have dropped its oldest lines since the last sync.
    if (!m_log || row < 0 || static_cast<std::size_t>(row) >= std::min(m_rows, m_log->size())) return {};
    const std::string_view line = m_log->line(static_cast<std::size_t>(row));
    return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
}

void LogView::setSelectedRow(int row) {
    const int clamped = (row < 0 || m_rows == 0) ? -1 : std::min(row, static_cast<int>(m_rows) - 1);
    if (clamped == m_selected) return;
    m_selected = clamped;
    if (m_selected >= 0) {
        QScrollBar* bar = verticalScrollBar();
        if (m_selected < bar->value()) bar->setValue(m_selected);
        else if (m_selected >= bar->value() + visibleRows()) bar->setValue(m_selected - visibleRows() + 1);
    }
    viewport()->update();
    announceSelection();
}

void LogView::announceSelection() const {
    if (!QAccessible::isActive())
        return;
    auto* self = const_cast<LogView*>(this);
    QAccessibleEvent selection(self, m_selected >= 0 ? QAccessible::Selection : QAccessible::SelectionRemove);
    selection.setChild(m_selected);
    QAccessible::updateAccessibility(&selection);
    if (m_selected >= 0 && hasFocus()) {
        QAccessibleEvent focus(self, QAccessible::Focus);
        focus.setChild(m_selected);
        QAccessible::updateAccessibility(&focus);
    }
}

int LogView::visibleRows() const { return std::max(1, viewport()->height() / m_rowHeight); }

int LogView::firstVisibleRow() const { return verticalScrollBar()->value(); }

QRect LogView::rowRect(int row) const {
    const int first = firstVisibleRow();
    if (row < first || row >= std::min(static_cast<int>(m_rows), first + visibleRows() + 1))
        return {};
    return QRect(0, (row - first) * m_rowHeight, viewport()->width(), m_rowHeight)
        .intersected(viewport()->rect());
}

QString LogView::selectedText() const { return m_selected < 0 ? QString() : lineText(m_selected) + u'\n'; }

QString LogView::allText() const {
    QString text;
    for (int row = 0; row < static_cast<int>(m_rows); ++row) {
        text += lineText(row);
        text += u'\n';
    }
    return text;
}

void LogView::copySelection() const {
    if (m_selected >= 0)
        QGuiApplication::clipboard()->setText(selectedText());
}

void LogView::copyAll() const {
    if (m_rows > 0)
        QGuiApplication::clipboard()->setText(allText());
}

QMenu* LogView::createContextMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    QAction* copy = menu->addAction(QStringLiteral("Copy"), this, &LogView::copySelection);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(m_selected >= 0);
    menu->addAction(QStringLiteral("Copy All"), this, &LogView::copyAll)->setEnabled(m_rows > 0);
    return menu;
}

void LogView::contextMenuEvent(QContextMenuEvent* event) {
    // A right click picks the row under the pointer first, as list boxes do.
    if (event->reason() == QContextMenuEvent::Mouse) {
        const int row = firstVisibleRow() + event->pos().y() / m_rowHeight;
        if (row < static_cast<int>(m_rows))
            setSelectedRow(row);
    }
    QMenu* menu = createContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void LogView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    announceSelection();
}

void LogView::updateRange(bool followEnd) {
    const int max = std::max(0, static_cast<int>(m_rows) - visibleRows());
    static_cast<LogScrollBar*>(verticalScrollBar())->setAll(max, visibleRows(), followEnd);
}

std::size_t LogView::sync(const ReceivedLog& log) {
    m_log = &log;
    const bool cleared = log.generation() != m_generation;
    const bool dropped = !cleared && log.droppedLines() != m_dropped;
    if (!cleared && !dropped && log.size() == m_rows) return 0;
    QScrollBar* bar = verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    const int firstShown = bar->value();
    std::size_t before = cleared ? 0 : m_rows;
    int firstWanted = firstShown;
    if (cleared) {
        m_generation = log.generation();
        m_selected = -1;
    } else if (dropped) {
        // The oldest lines went: the rows still shown move up by as many
        // (less the notice row that took the place of the first ones).
        const auto shift = static_cast<long long>(log.droppedLines() - m_dropped) - (m_dropped == 0 ? 1 : 0);
        m_selected = m_selected - shift >= (log.droppedLines() != 0 ? 1 : 0) ? static_cast<int>(m_selected - shift) : -1;
        firstWanted = static_cast<int>(std::max<long long>(0, firstShown - shift));
        before = static_cast<std::size_t>(std::max<long long>(0, static_cast<long long>(before) - shift));
    }
    m_dropped = log.droppedLines();
    m_rows = log.size();
    if (QAccessible::isActive()) {
        const bool reset = cleared || dropped;
        QAccessibleTableModelChangeEvent change(this, reset ? QAccessibleTableModelChangeEvent::ModelReset
                                                            : QAccessibleTableModelChangeEvent::RowsInserted);
        if (!reset) {
            change.setFirstRow(static_cast<int>(before));
            change.setLastRow(static_cast<int>(m_rows) - 1);
        }
        QAccessible::updateAccessibility(&change);
    }
    if (cleared || dropped)
        emit rowsReset();
    updateRange(atEnd || cleared);
    if (!atEnd && !cleared && firstWanted != firstShown)
        bar->setValue(firstWanted);
    // Repaint only what changed on screen: everything when the rows started
    // over, else the new rows that land in view (scrolling has moved the
    // others already).
    if (cleared || dropped) {
        viewport()->update();
    } else {
        const int top = (static_cast<int>(before) - bar->value()) * m_rowHeight;
        if (top < viewport()->height())
            viewport()->update(QRect(0, std::max(0, top), viewport()->width(), viewport()->height()));
    }
    return m_rows - before;
}

void LogView::paintEvent(QPaintEvent* event) {
    QPainter p(viewport());
    if (!m_log) return;
    // Only the rows in the region asked for.
    const int first = verticalScrollBar()->value();
    const QRect dirty = event->rect();
    const int from = first + std::max(0, dirty.top()) / m_rowHeight;
    const int last = std::min(static_cast<int>(m_rows), first + dirty.bottom() / m_rowHeight + 1);
    const int textX = 3;
    const int topPad = (m_rowHeight - fontMetrics().height()) / 2;
    const int ascentPad = topPad + fontMetrics().ascent();
    const int rows = static_cast<int>(std::min(m_rows, m_log->size()));
    const QColor text = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text);
    p.setPen(text);
    for (int row = from; row < last; ++row) {
        const int y = (row - first) * m_rowHeight;
        const QRect rect(0, y, viewport()->width(), m_rowHeight);
        if (row == m_selected) {
            p.fillRect(rect, palette().brush(hasFocus() ? QPalette::Active : QPalette::Inactive, QPalette::Highlight));
            p.setPen(palette().color(QPalette::HighlightedText));
        }
        const std::string_view line = row < rows ? m_log->line(static_cast<std::size_t>(row)) : std::string_view();
        // Control characters would break a laid-out text into lines: such a
        // line is drawn as it comes.
        if (std::all_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x20; }))
            p.drawStaticText(textX, y + topPad, shaped(line));
        else
            p.drawText(textX, y + ascentPad, lineText(row));
        if (row == m_selected)
            p.setPen(text);
    }
}

const QStaticText& LogView::shaped(std::string_view line) {
    const QByteArray key = QByteArray::fromRawData(line.data(), static_cast<qsizetype>(line.size()));
    if (const auto it = m_shaped.constFind(key); it != m_shaped.cend())
        return *it;
    // Bounded: a log of ever new texts (controller information) cannot grow it.
    if (m_shaped.size() >= kShapedLines)
        m_shaped.clear();
    QStaticText shapedText(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    shapedText.setTextFormat(Qt::PlainText);
    shapedText.prepare(QTransform(), font());
    return *m_shaped.insert(QByteArray(line.data(), static_cast<qsizetype>(line.size())), shapedText);
}

void LogView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    const QScrollBar* bar = verticalScrollBar();
    updateRange(bar->value() >= bar->maximum());
}

void LogView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const int row = verticalScrollBar()->value() + static_cast<int>(event->position().y()) / m_rowHeight;
    if (row < static_cast<int>(m_rows)) setSelectedRow(row);
}

void LogView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        return;
    }
    const int page = visibleRows();
    switch (event->key()) {
    case Qt::Key_Up: setSelectedRow(std::max(0, m_selected - 1)); break;
    case Qt::Key_Down: setSelectedRow(m_selected + 1); break;
    case Qt::Key_PageUp: setSelectedRow(std::max(0, m_selected - page)); break;
    case Qt::Key_PageDown: setSelectedRow(m_selected + page); break;
    case Qt::Key_Home: setSelectedRow(0); break;
    case Qt::Key_End: setSelectedRow(static_cast<int>(m_rows) - 1); break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
}

void LogView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        m_shaped.clear();
        m_rowHeight = fontMetrics().height() + 1;
        updateRange(false);
    }
    QAbstractScrollArea::changeEvent(event);
}

}  // namespace veltra
