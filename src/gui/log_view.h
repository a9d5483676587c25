#pragma once

#include <QAbstractScrollArea>
#include <QHash>
#include <QStaticText>

class QMenu;

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace veltra {

class ReceivedLog;

// The received-data list: a single-selection list box drawn straight from the
// ReceivedLog. Rows all have one height and only the rows on screen are ever
// looked at, so a million lines cost neither memory nor time here; appending
// repaints only when a new line lands in view. Screen readers see it as a
// list of items (see accessibility.h); Ctrl+C copies the selected line and
// the context menu offers "Copy" and "Copy All".
class LogView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit LogView(QWidget* parent = nullptr);

    // Follows the log: new lines are appended, a cleared log starts over. The
    // view keeps to the newest line unless the operator has scrolled up. The
    // log must stay alive until the next sync(). Returns the lines appended.
    std::size_t sync(const ReceivedLog& log);

    int rowCount() const { return static_cast<int>(m_rows); }
    QString lineText(int row) const;
    // The operator's selection, -1 for none; nothing in the panel reads it.
    int selectedRow() const { return m_selected; }
    void setSelectedRow(int row);
    int rowHeight() const { return m_rowHeight; }
    // The first row on screen and how many rows the viewport holds.
    int firstVisibleRow() const;
    int visibleRows() const;
    // Where a row is drawn, in viewport coordinates (empty when off screen).
    QRect rowRect(int row) const;

    // Plain text, one line per row: the selected row, or every row.
    QString selectedText() const;
    QString allText() const;
    void copySelection() const;
    void copyAll() const;
    // The context menu: "Copy" (while a row is selected) and "Copy All".
    QMenu* createContextMenu(QWidget* parent);

signals:
    // The rows started over: the log was cleared or lost lines at its front.
    void rowsReset();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void updateRange(bool followEnd);
    void announceSelection() const;
    // The laid-out text of a line: a fast line repeats a few hundred distinct
    // texts, so each is shaped once rather than at every repaint.
    const QStaticText& shaped(std::string_view line);

    const ReceivedLog* m_log = nullptr;
    std::size_t m_rows = 0;
    std::uint64_t m_generation = 0;
    std::uint64_t m_dropped = 0;  // the log's dropped lines at the last sync
    int m_selected = -1;
    int m_rowHeight = 1;
    QHash<QByteArray, QStaticText> m_shaped;
};

}  // namespace veltra
