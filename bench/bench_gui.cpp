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
#include <QEventLoop>
#include <QTimer>
#include <QScrollBar>

#include <benchmark/benchmark.h>

#include <poll.h>
#include <pty.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
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

// Records, at each paint of the list's viewport, when it was and how many
// lines the log had taken by then: what the operator can see at that moment.
struct PaintProbe : QObject {
    const veltra::ReceivedLog* log = nullptr;
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::uint64_t>> paints;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            paints.emplace_back(std::chrono::steady_clock::now(), log->appendedLines());
        return false;
    }
};

// The panel on a pseudo-terminal at full line rate: 19200 baud of status
// replies (20 bytes each, written as the wire paces them, 1920 bytes a second)
// for range(0) seconds. Counters: the GUI thread's CPU time per wall second
// (all the panel's work: reading, decoding, the widgets, painting) and the
// longest and 99th-percentile time from a reply's write to the first paint
// of the list that shows its last byte.
void BM_LineRate(benchmark::State& state) {
    using clock = std::chrono::steady_clock;
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const PanelOptions o = benchPorts(QString::fromLocal8Bit(::ptsname(master)));
    const std::uint8_t reply[20] = {0xCC, 0xAA, 0xDC, 0x00, 0xA0, 0xB0, 0x00, 0x00, 0x00, 0x00,
                                    0x00, 0x21, 0x05, 0x07, 0x45, 0x67, 0xF3, 0x00, 0x0A, 0x0D};
    const auto seconds = static_cast<int>(state.range(0));
    const std::size_t replies = static_cast<std::size_t>(seconds) * 1920 / sizeof reply;
    for (auto _ : state) {
        CShutterPanelDlg dlg(o);
        dlg.startUp();
        dlg.show();
        const veltra::ReceivedLog& log = dlg.state().log;
        // Online answered, the status read on becoming ready answered: a quiet panel.
        char buf[64];
        const auto readSome = [&] {
            for (QElapsedTimer t; !t.isValid() || t.elapsed() < 2000;) {
                if (!t.isValid()) t.start();
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                pollfd p{master, POLLIN, 0};
                if (::poll(&p, 1, 1) > 0 && ::read(master, buf, sizeof buf) > 0) return true;
            }
            return false;
        };
        if (!readSome() || ::write(master, "\xEE", 1) != 1 || !readSome() ||
            ::write(master, reply, sizeof reply) != sizeof reply) {
            state.SkipWithError("the panel did not start on the pseudo-terminal");
            break;
        }
        Panel::settle();
        PaintProbe probe;
        probe.log = &log;
        probe.paints.reserve(static_cast<std::size_t>(seconds) * 200);
        dlg.receivedList()->viewport()->installEventFilter(&probe);
        const std::uint64_t lines0 = log.appendedLines();

        std::vector<clock::time_point> written(replies);
        std::atomic<bool> done{false};
        timespec cpu0{}, cpu1{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
        const clock::time_point start = clock::now();
        std::thread writer([&] {
            const auto perReply = std::chrono::nanoseconds(1'000'000'000LL * 10 * sizeof reply / 19200);
            for (std::size_t i = 0; i < replies; ++i) {
                std::this_thread::sleep_until(start + perReply * static_cast<long long>(i + 1));
                written[i] = clock::now();
                if (::write(master, reply, sizeof reply) != sizeof reply) break;
            }
            done = true;
        });
        const std::uint64_t want = lines0 + replies * sizeof reply;
        // The event loop as the application runs it, until every byte is in and shown.
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            const bool shown = !probe.paints.empty() && probe.paints.back().second >= want;
            if ((done && shown) || clock::now() - start > std::chrono::seconds(seconds + 10))
                loop.quit();
        });
        check.start(100);
        loop.exec();
        const clock::time_point end = clock::now();
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
        writer.join();
        dlg.receivedList()->viewport()->removeEventFilter(&probe);

        const double cpu = double(cpu1.tv_sec - cpu0.tv_sec) + double(cpu1.tv_nsec - cpu0.tv_nsec) / 1e9;
        const double wall = std::chrono::duration<double>(end - start).count();
        std::vector<double> latencies;
        std::size_t paint = 0;
        for (std::size_t i = 0; i < replies; ++i) {
            const std::uint64_t shown = lines0 + (i + 1) * sizeof reply;
            while (paint < probe.paints.size() && probe.paints[paint].second < shown) ++paint;
            if (paint == probe.paints.size()) break;
            latencies.push_back(std::chrono::duration<double, std::milli>(probe.paints[paint].first - written[i]).count());
        }
        if (latencies.size() != replies) {
            state.SkipWithError("not every reply reached the screen");
            break;
        }
        std::sort(latencies.begin(), latencies.end());
        state.counters["cpu_percent"] = 100.0 * cpu / wall;
        state.counters["latency_max_ms"] = latencies.back();
        state.counters["latency_p99_ms"] = latencies[latencies.size() * 99 / 100];
        state.counters["paints_per_s"] = static_cast<double>(probe.paints.size()) / wall;
        state.counters["replies"] = static_cast<double>(replies);
    }
    ::close(master);
    ::close(slave);
}
BENCHMARK(BM_LineRate)->ArgName("seconds")->Arg(20)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return veltra::bench::runPanelBenchmarks(argc, argv); }
