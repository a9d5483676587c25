#include "gui/log_view.h"

#include "model/received_log.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace veltra {

LogView::LogView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setBackgroundRole(QPalette::Base);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    m_rowHeight = fontMetrics().height() + 1;
    // The scroll bar counts rows.
    verticalScrollBar()->setSingleStep(1);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(), qOverload<>(&QWidget::update));
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
}

int LogView::visibleRows() const { return std::max(1, viewport()->height() / m_rowHeight); }

void LogView::updateRange(bool followEnd) {
    QScrollBar* bar = verticalScrollBar();
    const int max = std::max(0, static_cast<int>(m_rows) - visibleRows());
    bar->setPageStep(visibleRows());
    bar->setRange(0, max);
    if (followEnd) bar->setValue(max);
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
    updateRange(atEnd || cleared);
    if (!atEnd && !cleared && firstWanted != firstShown)
        bar->setValue(firstWanted);
    // Repaint only when something on screen changed.
    if (cleared || dropped || bar->value() != firstShown || before < static_cast<std::size_t>(firstShown + visibleRows()))
        viewport()->update();
    return m_rows - before;
}

void LogView::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    if (!m_log) return;
    const int first = verticalScrollBar()->value();
    const int last = std::min(static_cast<int>(m_rows), first + visibleRows() + 1);
    const int textX = 3;
    const int ascentPad = (m_rowHeight - fontMetrics().height()) / 2 + fontMetrics().ascent();
    for (int row = first; row < last; ++row) {
        const int y = (row - first) * m_rowHeight;
        const QRect rect(0, y, viewport()->width(), m_rowHeight);
        if (row == m_selected) {
            p.fillRect(rect, palette().brush(hasFocus() ? QPalette::Active : QPalette::Inactive, QPalette::Highlight));
            p.setPen(palette().color(QPalette::HighlightedText));
        } else {
            p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
        }
        p.drawText(textX, y + ascentPad, lineText(row));
    }
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
        m_rowHeight = fontMetrics().height() + 1;
        updateRange(false);
    }
    QAbstractScrollArea::changeEvent(event);
}

}  // namespace veltra
