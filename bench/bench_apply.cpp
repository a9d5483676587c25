// The Apply download end to end: the utility's panel, decoder and serial link
// against veltra-sim on a pseudo-terminal, the simulator pacing both
// directions at 19200 baud as a real line would (a command reaches it only
// after its bytes have crossed the wire, the answer takes its own wire time
// back). Reports the time from "Apply" to the last step and the ratio to the
// serial wire time of every byte sent and received up to then (10 bits a
// byte at 19200 baud). Download steps wait for each other, so nothing
// overlaps and the ratio cannot go below 1.
#include "panel/shutter_panel.h"
#include "serial/ccomportlink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>

namespace {

struct SilentPrompter : veltra::Prompter {
    void warning(const std::string& t) override { std::fprintf(stderr, "warning: %s\n", t.c_str()); }
    bool confirm(const std::string&) override { return true; }
    std::optional<std::string> askNdSteps() override { return std::nullopt; }
    std::optional<std::string> chooseConfigFile(bool) override { return std::nullopt; }
    void error(const std::string&, const std::string&) override {}
};

struct LinkSink : veltra::CommandSink {
    veltra::CComPortLink* link = nullptr;
    int sentBytes = 0;
    bool send(int, const veltra::Command& c) override {
        sentBytes += c.length;
        return link->QueueWrite(c.bytes.data(), c.length);
    }
};

void BM_ApplyDownload(benchmark::State& state) {
    const bool nd = state.range(0) != 0;
    QProcess sim;
    sim.start(QStringLiteral(VELTRA_SIM_PATH), {QStringLiteral("--pace-baud"), QStringLiteral("19200")});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        state.SkipWithError("veltra-sim did not start");
        return;
    }
    const QString device = QString::fromLocal8Bit(sim.readLine()).trimmed();

    veltra::CComPortLink link;
    LinkSink sink;
    sink.link = &link;
    SilentPrompter prompter;
    veltra::ShutterPanel panel(sink, prompter);
    veltra::PanelState s;
    panel.initialise(s);
    link.setDeviceName(device);
    if (!link.OpenLink(1, 19200, 'N', 8, 1, veltra::kPanelEventMask, 512) || !link.StartMonitor()) {
        state.SkipWithError("cannot open the simulator's line");
        return;
    }
    panel.portOpenedAtStartup(s, 1);

    QEventLoop loop;
    int received = 0;
    link.setByteHandler([&](int byte, int port) {
        ++received;
        panel.onPortRxChar(s, byte, port);
        if (!panel.decoder().applyInProgress()) loop.quit();
    });
    const auto waitFor = [&](int bytes) {
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        guard.start(5000);
        while (received < bytes && guard.isActive()) loop.processEvents(QEventLoop::WaitForMoreEvents);
    };
    waitFor(1);  // the Online echo

    s.shutterMode = nd ? 2 : 0;
    s.ndSteps = 144;
    s.delayTime = {"0", "0", "1", "250", "5"};
    s.exposureTime = {"0", "0", "2", "500", "0"};
    s.repeatText = "3";
    s.runningOption = 0;  // On Power Up: no run to follow afterwards
    double totalElapsed = 0, totalWire = 0, worst = 0, best = 1e9;
    for (auto _ : state) {
        received = 0;
        sink.sentBytes = 0;
        QElapsedTimer timer;
        timer.start();
        panel.onApply(s);
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        const double elapsed = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        if (panel.decoder().applyInProgress()) {
            state.SkipWithError("the download did not complete");
            break;
        }
        // The last step's two bytes were sent at the end; they are not part
        // of the time measured.
        const double wireSeconds = (sink.sentBytes - 2 + received) * 10.0 / 19200.0;
        state.SetIterationTime(elapsed);
        totalElapsed += elapsed;
        totalWire += wireSeconds;
        worst = std::max(worst, elapsed / wireSeconds);
        best = std::min(best, elapsed / wireSeconds);
        // Let the answer to the last step arrive before the next round.
        waitFor(received + 3);
    }
    if (totalWire > 0) {
        state.counters["wire_ms"] = totalWire * 1e3 / static_cast<double>(state.iterations());
        state.counters["ratio"] = totalElapsed / totalWire;
        state.counters["worst_ratio"] = worst;
        // Below 1 would mean bytes crossed faster than the wire allows: a
        // wrong bound or a simulator that does not pace.
        state.counters["best_ratio"] = best;
    }
    sim.terminate();
    sim.waitForFinished(5000);
}
BENCHMARK(BM_ApplyDownload)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
