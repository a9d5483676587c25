// Memory and responsiveness of the panel when the line does not stop.
//
// BM_BoxOpenDuringFlood: the panel with COM1 on a pseudo-terminal that a
// writer thread floods with plain bytes as fast as the terminal takes them
// (faster than any baud rate: the pace is set by how fast the panel reads).
// After a quarter of the run a message box opens over the panel and stays
// for half of it (60 s and 30 s by default). Measured: the process's peak
// resident memory over the run against its value before the flood, the
// bytes parked behind the box, and the time from the box closing to the
// first byte the panel handles after the parked batch.
// The bound checked: peak growth <= 64 MB of log + 4 MiB parked + 1 MiB the
// link may buffer + 32 MB for Qt's and the allocator's own; and the next
// byte within 1 s of the box closing.
//
// BM_TenMillionBytesLogMemory: 10,000,000 received bytes through the panel's
// byte path (absent ports; the bytes come from the benchmark, as fast as the
// path takes them) with the default cap of 1,000,000 lines. Checked: the
// log's own memory never exceeds 64 MB. The cap, not the count, sets the
// figure, so a day at 19200 baud (166 million bytes) keeps the same.
#include "gui/cshutterpaneldlg.h"
#include "panel_bench_support.h"
#include "model/received_log.h"
#include "serial/ccomportlink.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <thread>

namespace {

using veltra::bench::benchPorts;
using veltra::bench::residentBytes;
using veltra::CShutterPanelDlg;
using veltra::PanelOptions;
using veltra::PanelState;

constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kMB = 1e6;



void BM_BoxOpenDuringFlood(benchmark::State& state) {
    const qint64 runMs = state.range(0) * 1000;
    for (auto _ : state) {
        int master = -1, slave = -1;
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
            state.SkipWithError("no pseudo-terminal available");
            return;
        }
        CShutterPanelDlg dlg(benchPorts(QString::fromLocal8Bit(::ptsname(master))));
        dlg.startUp();
        dlg.show();
        const veltra::ReceivedLog& log = dlg.state().log;
        QCoreApplication::processEvents();
        const double rss0 = residentBytes();

        std::atomic<bool> stop{false};
        std::atomic<std::uint64_t> written{0};
        std::thread writer([&] {
            const std::string chunk(4096, '\x41');  // plain bytes: one log line each
            // Non-blocking, so the writer sees `stop` even when the terminal is full.
            ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
            while (!stop) {
                pollfd p{master, POLLOUT, 0};
                if (::poll(&p, 1, 50) <= 0)
                    continue;
                const ssize_t n = ::write(master, chunk.data(), chunk.size());
                if (n > 0)
                    written += static_cast<std::uint64_t>(n);
                else if (errno != EAGAIN)
                    break;
            }
        });

        QElapsedTimer clock;
        clock.start();
        double peakRss = rss0;
        std::size_t peakParked = 0;
        qint64 closedAt = -1, batchAt = -1, nextAt = -1;
        std::uint64_t linesAfterBatch = 0;
        bool batchDone = false;
        QTimer::singleShot(runMs / 4, &dlg, [&] {
            dlg.act([&](PanelState&) {
                QMessageBox box(QMessageBox::Warning, "Warning", "A box over the panel", QMessageBox::Ok, &dlg);
                QTimer sampler;
                QObject::connect(&sampler, &QTimer::timeout, [&] {
                    peakRss = std::max(peakRss, residentBytes());
                    peakParked = std::max(peakParked, dlg.parkedBytes().memoryBytes());
                });
                sampler.start(100);
                QTimer::singleShot(runMs / 2, &box, &QMessageBox::accept);
                box.exec();
                closedAt = clock.elapsed();
            });
            // The parked batch has been handled; the next byte is the line's own.
            linesAfterBatch = log.appendedLines();
            batchAt = clock.elapsed();
            batchDone = true;
        });
        while (clock.elapsed() < runMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (batchDone && nextAt < 0 && log.appendedLines() > linesAfterBatch)
                nextAt = clock.elapsed();
            peakRss = std::max(peakRss, residentBytes());
        }
        stop = true;
        writer.join();
        ::close(slave);
        ::close(master);

        const double growth = peakRss - rss0;
        const double bound = 64 * kMB + 4 * kMiB + 1 * kMiB + 32 * kMB;
        state.counters["flood_MB"] = static_cast<double>(written) / kMB;
        state.counters["rss_before_MB"] = rss0 / kMB;
        state.counters["rss_peak_growth_MB"] = growth / kMB;
        state.counters["rss_bound_MB"] = bound / kMB;
        state.counters["parked_peak_MiB"] = static_cast<double>(peakParked) / kMiB;
        state.counters["log_MB"] = static_cast<double>(log.memoryBytes()) / kMB;
        state.counters["parked_batch_ms"] = static_cast<double>(batchAt - closedAt);
        state.counters["next_byte_after_close_ms"] = static_cast<double>(nextAt - closedAt);
        if (closedAt < 0 || nextAt < 0)
            state.SkipWithError("the panel handled no byte after the box closed");
        else if (nextAt - closedAt > 1000)
            state.SkipWithError("the next byte came more than a second after the box closed");
        else if (growth > bound)
            state.SkipWithError("memory grew beyond the bound");
    }
}
BENCHMARK(BM_BoxOpenDuringFlood)->ArgName("seconds")->Arg(60)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_TenMillionBytesLogMemory(benchmark::State& state) {
    constexpr std::size_t kBytes = 10'000'000;
    constexpr std::size_t kBatch = 4096;
    for (auto _ : state) {
        CShutterPanelDlg dlg(benchPorts());
        dlg.startUp();
        dlg.show();
        const veltra::ReceivedLog& log = dlg.state().log;
        std::size_t peak = 0;
        QElapsedTimer clock;
        clock.start();
        for (std::size_t sent = 0; sent < kBytes;) {
            for (std::size_t i = 0; i < kBatch && sent < kBytes; ++i, ++sent)
                dlg.receiveByte(0x41 + static_cast<int>(sent % 26), 1);
            peak = std::max(peak, log.memoryBytes());
            QCoreApplication::processEvents();
        }
        const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        state.counters["bytes_per_s"] = static_cast<double>(kBytes) / seconds;
        state.counters["lines_kept"] = static_cast<double>(log.size());
        state.counters["lines_dropped"] = static_cast<double>(log.droppedLines());
        state.counters["log_peak_MB"] = static_cast<double>(peak) / kMB;
        if (log.appendedLines() != kBytes)
            state.SkipWithError("not every byte was logged");
        else if (static_cast<double>(peak) > 64 * kMB)
            state.SkipWithError("the log took more than 64 MB");
    }
}
BENCHMARK(BM_TenMillionBytesLogMemory)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return veltra::bench::runPanelBenchmarks(argc, argv); }
