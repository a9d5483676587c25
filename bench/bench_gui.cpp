// The whole received-byte path of the panel, offscreen: every byte runs as
// the serial link's byte handler runs it (read, the decoder, show), the event
// loop turns after every batch of 64 bytes as the line delivers them, and the
// visible received-data list lays out and paints. The log already holds a
// million lines when the timing starts.
//
// Also the memory a million log lines cost: process RSS and the log's own
// buffers before and after filling them through that same path.
#include "gui/cshutterpaneldlg.h"
#include "panel_bench_support.h"
#include "gui/log_view.h"
#include "model/received_log.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

using veltra::bench::benchPorts;
using veltra::bench::residentBytes;
using veltra::CShutterPanelDlg;
using veltra::PanelOptions;
using veltra::PanelState;

constexpr std::size_t kBatch = 64;          // bytes between two turns of the event loop
constexpr std::size_t kFillBatch = 4096;    // bytes between turns while filling for the memory figures
constexpr std::size_t kMillion = 1'000'000;

// A Fast status reply, plain bytes, a Neutral Density status reply, plain
// bytes. None of the plain bytes opens a reply or an information block.
const std::vector<int> kStream = {
    0xCC, 0xAA, 0xDC, 0x00, 0xA0, 0xB0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0x05, 0x07, 0x45, 0x67, 0xF3, 0x00, 0x0A, 0x0D,
    0x05, 0x41, 0x0D, 0xEE,
    0xCC, 0xAC, 0xDE, 0x48, 0x00, 0xA2, 0xB1, 0x10, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF2, 0x00, 0x03,
    0x31, 0x00, 0x7F, 0xEE,
};

double mb(double bytes) { return bytes / (1024.0 * 1024.0); }



// Counts the paint events of the list's viewport: proof the view really draws.
struct PaintCounter : QObject {
    long paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// The panel as the application runs it, visible on the offscreen screen.
struct Panel {
    CShutterPanelDlg dlg{benchPorts()};
    PaintCounter counter;
    std::size_t next = 0;  // position in kStream; the decoder's state follows it

    Panel() {
        dlg.startUp();
        dlg.show();
        dlg.receivedList()->viewport()->installEventFilter(&counter);
        settle();
    }

    // Long enough for the held-back repaint (display rate) to happen.
    static void settle() {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 50)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    // What the link's byte handler does for one received byte on COM1.
    void receive(int byte) {
        dlg.receiveByte(byte, 1);
    }

    // One batch from the line, then the event loop turns once. Kept out of
    // line so a profiler can collect just this part.
    [[gnu::noinline]] void batch(std::size_t bytes = kBatch) {
        for (std::size_t i = 0; i < bytes; ++i) {
            receive(kStream[next]);
            next = next + 1 == kStream.size() ? 0 : next + 1;
        }
        QCoreApplication::processEvents();
    }

    bool followsNewest() const {
        const QScrollBar* bar = dlg.receivedList()->verticalScrollBar();
        return bar->maximum() > 0 && bar->value() == bar->maximum();
    }
};

// Memory of a million lines, filled byte by byte through the panel
// (range 0) or appended to the log and shown once (range 1).
void BM_LogMemory(benchmark::State& state) {
    const bool direct = state.range(0) != 0;
    for (auto _ : state) {
        Panel p;
        const veltra::ReceivedLog& log = p.dlg.state().log;
        const double rss0 = residentBytes();
        const double log0 = static_cast<double>(log.memoryBytes());

        QElapsedTimer clock;
        clock.start();
        if (direct) {
            PanelState& s = p.dlg.state();
            for (std::size_t i = 0; i < kMillion; ++i)
                s.log.append("238       0xEE");
            p.dlg.show(s);
        } else {
            // Larger batches than the timed path: the fill is here for its
            // memory, and must not take minutes.
            while (log.size() < kMillion)
                p.batch(std::min(kFillBatch, kMillion - log.size()));
        }
        Panel::settle();
        const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;

        const double rss1 = residentBytes();
        const double log1 = static_cast<double>(log.memoryBytes());
        state.counters["lines"] = static_cast<double>(log.size());
        state.counters["rss_empty_MB"] = mb(rss0);
        state.counters["rss_full_MB"] = mb(rss1);
        state.counters["rss_delta_MB"] = mb(rss1 - rss0);
        state.counters["log_empty_MB"] = mb(log0);
        state.counters["log_full_MB"] = mb(log1);
        state.counters["log_delta_MB"] = mb(log1 - log0);
        state.counters["fill_s"] = seconds;
        if (!direct)
            state.counters["fill_bytes_per_s"] = static_cast<double>(log.size()) / seconds;
        if (!p.followsNewest())
            state.SkipWithError("the list does not show the newest line");
    }
}
BENCHMARK(BM_LogMemory)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Bytes per second through the whole path onto a log that already holds
// range(0) lines (the goal: a million; an empty log for comparison).
// One iteration is one batch of 64 bytes and one turn of the event loop.
void BM_ReceiveOntoLog(benchmark::State& state) {
    Panel p;
    PanelState& s = p.dlg.state();
    for (std::int64_t i = 0; i < state.range(0); ++i)
        s.log.append("238       0xEE");
    p.dlg.show(s);
    Panel::settle();
    const long paints0 = p.counter.paints;
    // The log keeps its newest lines only: count what was appended.
    const std::uint64_t lines0 = s.log.appendedLines();

    std::size_t bytes = 0;
    for (auto _ : state) {
        p.batch();
        bytes += kBatch;
    }
    Panel::settle();

    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["lines"] = static_cast<double>(s.log.size());
    state.counters["paints"] = static_cast<double>(p.counter.paints - paints0);
    state.counters["batches"] = static_cast<double>(state.iterations());
    if (s.log.appendedLines() != lines0 + bytes)
        state.SkipWithError("not every byte was logged");
    else if (p.dlg.receivedList()->rowCount() != static_cast<int>(s.log.size()))
        state.SkipWithError("the list does not hold every line");
    else if (!p.followsNewest())
        state.SkipWithError("the list does not show the newest line");
}
BENCHMARK(BM_ReceiveOntoLog)->ArgName("lines")->Arg(1'000'000)->Arg(0)->MinTime(5.0)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return veltra::bench::runPanelBenchmarks(argc, argv); }
