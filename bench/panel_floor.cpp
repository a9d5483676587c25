// The least a Qt Widgets program spends to show a serial line as the panel
// does, as a program of its own (not a bench_ one): a window of the panel's
// size holding one list of the received-data list's size; every byte read
// becomes a line; the list shows the newest lines within 50 ms, redrawn at
// most once per 33 ms. No decoding, no other widgets, no scroll bar, no log
// beyond the lines on screen. bench_panel_process measures it beside the
// panel under the same stream: the share it takes is the floor the platform
// (Qt's event loop, its backing store, the X server's round trips) puts
// under any program that reads and shows this line.
//
// Usage: panel_floor DEVICE
#include <QApplication>
#include <QPainter>
#include <QSocketNotifier>
#include <QStaticText>
#include <QTimer>
#include <QWidget>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <deque>

namespace {

constexpr int kRefreshMs = 33;
constexpr std::size_t kKeptLines = 64;

class Lines : public QWidget {
public:
    explicit Lines(QWidget* parent) : QWidget(parent) {
        setAutoFillBackground(true);
        setBackgroundRole(QPalette::Base);
        setAttribute(Qt::WA_OpaquePaintEvent);
        m_refresh.setSingleShot(true);
        m_refresh.setInterval(kRefreshMs);
        QObject::connect(&m_refresh, &QTimer::timeout, this, [this] { update(); });
        // Each byte's row laid out once, as the panel's list keeps its rows.
        for (int v = 0; v < 256; ++v) {
            QStaticText& text = m_texts[static_cast<std::size_t>(v)];
            text.setText(QStringLiteral("%1  0x%2").arg(v).arg(v, 2, 16, QLatin1Char('0')));
            text.setTextFormat(Qt::PlainText);
            text.prepare(QTransform(), font());
        }
    }

    void add(const char* bytes, qsizetype count) {
        for (qsizetype i = 0; i < count; ++i) {
            m_lines.push_back(static_cast<unsigned char>(bytes[i]));
            if (m_lines.size() > kKeptLines)
                m_lines.pop_front();
        }
        if (!m_refresh.isActive())
            m_refresh.start();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().base());
        const int rowHeight = fontMetrics().height() + 1;
        const int rows = std::min<int>(height() / rowHeight, static_cast<int>(m_lines.size()));
        const std::size_t first = m_lines.size() - static_cast<std::size_t>(rows);
        for (int r = 0; r < rows; ++r)
            p.drawStaticText(3, r * rowHeight, m_texts[m_lines[first + static_cast<std::size_t>(r)]]);
    }

private:
    QTimer m_refresh;
    std::deque<unsigned char> m_lines;
    std::array<QStaticText, 256> m_texts;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: panel_floor DEVICE\n");
        return 2;
    }
    const int fd = ::open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    // The panel's window and its received-data list, in size and place.
    QWidget window;
    window.resize(996, 795);
    auto* lines = new Lines(&window);
    lines->setGeometry(13, 666, 633, 117);
    window.show();

    QSocketNotifier notifier(fd, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, lines, [fd, lines] {
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            lines->add(buffer, n);
        else if (n == 0)
            QApplication::quit();
    });
    return app.exec();
}
