// The panel at line rate: received bytes are decoded at once, and the widgets
// follow them in one deferred refresh per frame that shows every byte, in order.

#include "gui/cshutterpaneldlg.h"
#include "gui/log_view.h"
#include "model/received_log.h"

#include <QLineEdit>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace veltra {
namespace {

constexpr int kWaitMs = 5000;  // generous: the refresh itself comes within a frame

PanelOptions nowherePorts() {
    return {{"/nonexistent/veltra-com1", "/nonexistent/veltra-com2", "/nonexistent/veltra-com3",
             "/nonexistent/veltra-com4"}};
}

// A Fast status reply, then bytes that open nothing.
const std::vector<int> kBurst = {0xCC, 0xAA, 0xDC, 0x00, 0xA0, 0xB0, 0x00, 0x00, 0x00, 0x00, 0x00,
                                 0x21, 0x05, 0x07, 0x45, 0x67, 0xF3, 0x00, 0x0A, 0x0D, 0x05, 0x41, 0x0D};

QString hexOf(int byte) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%.2X", byte);
    return QString::fromLatin1(buf);
}

struct Refresh : testing::Test {
    CShutterPanelDlg dlg{nowherePorts()};
    LogView* list = nullptr;
    QTimer* timer = nullptr;

    void SetUp() override {
        dlg.startUp();
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        list = dlg.receivedList();
        timer = dlg.findChild<QTimer*>(QStringLiteral("viewRefresh"));
        ASSERT_NE(timer, nullptr);
        // Whatever start-up left to show is on screen.
        QTRY_VERIFY_WITH_TIMEOUT(!timer->isActive(), kWaitMs);
    }

    void receive(const std::vector<int>& bytes) {
        for (int b : bytes)
            dlg.receiveByte(b, 1);
    }
};

TEST_F(Refresh, burstIsDecodedAtOnceAndListedInOrderByOneRefreshScheduledWithinAFrame) {
    // The refresh comes one interval after the first byte it shows: two
    // frames at 60 Hz at most, so every byte is on screen within 50 ms.
    EXPECT_TRUE(timer->isSingleShot());
    EXPECT_GE(timer->interval(), 16);
    EXPECT_LE(timer->interval(), 34);
    const int rows0 = list->rowCount();
    const std::uint64_t lines0 = dlg.state().log.appendedLines();
    QSignalSpy refreshes(timer, &QTimer::timeout);

    const int perRound = static_cast<int>(kBurst.size()) + 1;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const int first = rows0 + round * perRound;
        receive(kBurst);
        // The panel's state has every byte; the widgets wait for the refresh.
        EXPECT_EQ(dlg.state().log.appendedLines(), lines0 + static_cast<std::uint64_t>(first - rows0) + kBurst.size());
        EXPECT_EQ(list->rowCount(), first);
        EXPECT_TRUE(timer->isActive());
        const int remaining = timer->remainingTime();
        receive({0x05});  // a byte more does not push the refresh back
        EXPECT_LE(timer->remainingTime(), remaining);
        QTRY_COMPARE_WITH_TIMEOUT(refreshes.count(), round + 1, kWaitMs);
        EXPECT_FALSE(timer->isActive());

        ASSERT_EQ(list->rowCount(), first + perRound);
        for (std::size_t i = 0; i < kBurst.size(); ++i)
            EXPECT_TRUE(list->lineText(first + static_cast<int>(i)).endsWith(hexOf(kBurst[i]))) << i;
        EXPECT_TRUE(list->lineText(list->rowCount() - 1).endsWith(hexOf(0x05)));
        // Following the newest line.
        EXPECT_EQ(list->verticalScrollBar()->value(), list->verticalScrollBar()->maximum());
    }
    // Nothing left to refresh: no further refresh comes by itself.
    EXPECT_FALSE(timer->isActive());
}

TEST_F(Refresh, anActionShowsAtOnceWhatTheBytesBeforeItChanged) {
    receive(kBurst);
    ASSERT_TRUE(timer->isActive());
    const int rows = list->rowCount();
    dlg.act([](PanelState&) {});
    // The pending refresh is done within the action, not left for later.
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(list->rowCount(), rows + static_cast<int>(kBurst.size()));
    // The status reply's values are on the widgets too.
    EXPECT_EQ(dlg.control<QLineEdit>(1145)->text().toStdString(), dlg.state().repeatText);
}

// Records the rectangles a widget is asked to paint.
struct PaintRecorder : QObject {
    std::vector<QRect> rects;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            rects.push_back(static_cast<QPaintEvent*>(e)->rect());
        return false;
    }
};

TEST(LogRepaintTest, followingTheLinePaintsOnlyTheNewRowsAndAScrollBarThatLooksTheSameNot) {
    ReceivedLog log;
    LogView view;
    view.resize(200, 10 * view.rowHeight());
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    PaintRecorder rows, bar;
    view.viewport()->installEventFilter(&rows);
    view.verticalScrollBar()->installEventFilter(&bar);
    for (int i = 0; i < 1000; ++i)
        log.append("13       0x0D");
    view.sync(log);
    QTRY_VERIFY_WITH_TIMEOUT(!rows.rects.empty() && !bar.rects.empty(), kWaitMs);

    for (const int added : {1, 3, 7}) {
        SCOPED_TRACE(added);
        rows.rects.clear();
        bar.rects.clear();
        for (int i = 0; i < added; ++i)
            log.append("238       0xEE");
        EXPECT_EQ(view.sync(log), static_cast<std::size_t>(added));
        QTRY_VERIFY_WITH_TIMEOUT(!rows.rects.empty(), kWaitMs);
        // The rows drawn before moved up; only the new ones (and the part row
        // below them) are painted.
        int height = 0;
        for (const QRect& r : rows.rects)
            height += r.height();
        EXPECT_LE(height, (added + 1) * view.rowHeight());
        // A thousand rows and more: the handle stays at its least length at
        // the bottom, so the scroll bar is not painted again.
        EXPECT_TRUE(bar.rects.empty());
        EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
    }
    // Scrolling up is drawn: the handle moves.
    view.verticalScrollBar()->setValue(0);
    QTRY_VERIFY_WITH_TIMEOUT(!bar.rects.empty(), kWaitMs);
}

TEST(LogRepaintTest, rowsLookAsTextDrawnInPlaceWhateverTheyHold) {
    // Rows of one text each (shaped once and kept), a row with a control
    // character, and a selected row: each must look as the plain text drawn
    // at the row's baseline.
    ReceivedLog log;
    const std::vector<std::string> lines = {"204       0xCC", "5           0x05", "204       0xCC", "ab\tc", "13        0x0D"};
    for (const std::string& line : lines)
        log.append(line);
    LogView view;
    view.resize(240, 8 * view.rowHeight());
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.sync(log);
    view.setSelectedRow(2);
    for (int pass = 0; pass < 2; ++pass) {  // the second from the kept texts
        SCOPED_TRACE(pass);
        const QImage shown = view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QImage expected(shown.size(), QImage::Format_RGB32);
        expected.setDevicePixelRatio(shown.devicePixelRatio());
        expected.fill(view.palette().color(QPalette::Base));
        QPainter p(&expected);
        p.setFont(view.font());
        const QFontMetrics fm = view.fontMetrics();
        const int baseline = (view.rowHeight() - fm.height()) / 2 + fm.ascent();
        for (int row = 0; row < static_cast<int>(lines.size()); ++row) {
            const int y = row * view.rowHeight();
            if (row == 2) {
                p.fillRect(QRect(0, y, view.viewport()->width(), view.rowHeight()),
                           view.palette().brush(view.hasFocus() ? QPalette::Active : QPalette::Inactive,
                                                QPalette::Highlight));
                p.setPen(view.palette().color(QPalette::HighlightedText));
            } else {
                p.setPen(view.palette().color(QPalette::Active, QPalette::Text));
            }
            p.drawText(3, y + baseline, QString::fromStdString(lines[static_cast<std::size_t>(row)]));
        }
        p.end();
        EXPECT_EQ(shown, expected);
        view.viewport()->repaint();
    }
}

}  // namespace
}  // namespace veltra
