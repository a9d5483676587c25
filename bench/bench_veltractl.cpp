// `veltractl status` as a process against veltra-sim pacing at 19200 baud,
// against status_baseline doing the least a status request can: the wall
// time of each, alternated round by round; the ratio of the medians.
//
// The client's Status and Apply in-process against the same simulator,
// against the wire time of every byte both ways (10 bits a byte at 19200
// baud). The simulator paces both directions and answers only once a
// command has crossed the wire, so nothing overlaps: the ratio cannot go
// below 1.
#include "client/veltra_client.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int kBaud = 19200;
double wireSeconds(long long bytes) { return static_cast<double>(bytes) * 10.0 / kBaud; }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Sim {
    QProcess process;
    QString device;
    Sim() {
        process.start(QStringLiteral(VELTRA_SIM_PATH), {QStringLiteral("--pace-baud"), QString::number(kBaud)});
        if (process.waitForStarted(5000) && process.waitForReadyRead(5000))
            device = QString::fromLocal8Bit(process.readLine()).trimmed();
    }
    ~Sim() {
        process.terminate();
        process.waitForFinished(5000);
    }
};

// Wall time of one program from start to exit, in seconds; negative on failure.
double timed(const QString& program, const QStringList& args) {
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    if (!p.waitForFinished(10000) || p.exitCode() != 0) return -1;
    return static_cast<double>(t.nsecsElapsed()) / 1e9;
}

void BM_VeltractlStatusProcess(benchmark::State& state) {
    Sim sim;
    if (sim.device.isEmpty()) return state.SkipWithError("veltra-sim did not start");
    std::vector<double> ctl, base;
    for (auto _ : state) {
        const double c = timed(QStringLiteral(VELTRACTL_PATH),
                               {QStringLiteral("--device"), sim.device, QStringLiteral("--baud"), QString::number(kBaud),
                                QStringLiteral("status")});
        const double b = timed(QStringLiteral(STATUS_BASELINE_PATH), {sim.device, QString::number(kBaud)});
        if (c < 0 || b < 0) return state.SkipWithError("a status request failed");
        ctl.push_back(c), base.push_back(b);
        state.SetIterationTime(c);
    }
    state.counters["veltractl_ms"] = median(ctl) * 1e3;
    state.counters["baseline_ms"] = median(base) * 1e3;
    state.counters["ratio"] = median(ctl) / median(base);
}
BENCHMARK(BM_VeltractlStatusProcess)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

// Status (arg 0) or Apply (arg 1) through one client.
void BM_ClientAgainstWire(benchmark::State& state) {
    const bool apply = state.range(0) != 0;
    Sim sim;
    if (sim.device.isEmpty()) return state.SkipWithError("veltra-sim did not start");
    veltra::ClientOptions o;
    o.device = sim.device;
    o.baud = kBaud;
    veltra::Client client(o);
    long long bytes = 0;
    client.setTrafficHandler([&](bool, const std::uint8_t*, std::size_t n) { bytes += static_cast<long long>(n); });
    veltra::ControllerSettings a;
    a.shutterPosition = 0, a.shutterMode = 2, a.ndSteps = 144, a.triggerMode = 2, a.syncMode = 1, a.runningOption = 0;
    a.delayTime = {"0", "0", "1", "250", "5"}, a.exposureTime = {"0", "0", "2", "500", "0"}, a.repeatText = "3";
    // The download ends as its last command (the running option, 2 bytes)
    // goes out: that command and its answer come after the time measured.
    const long long untimed = apply ? 2 : 0;
    std::vector<double> ratios;
    double elapsedSum = 0, wireSum = 0;
    // The simulator notices a new client on its next look at the line: the
    // first exchange waits for that, not for the wire.
    try {
        client.status();
    } catch (const veltra::ClientError& e) {
        return state.SkipWithError(e.what());
    }
    for (auto _ : state) {
        bytes = 0;
        QElapsedTimer t;
        t.start();
        try {
            apply ? client.apply(a) : void(client.status());
        } catch (const veltra::ClientError& e) {
            return state.SkipWithError(e.what());
        }
        const double elapsed = static_cast<double>(t.nsecsElapsed()) / 1e9;
        const double wire = wireSeconds(bytes - untimed);
        state.SetIterationTime(elapsed);
        ratios.push_back(elapsed / wire);
        elapsedSum += elapsed, wireSum += wire;
        if (apply) client.status();  // the last answer in, before the next round
    }
    state.counters["wire_ms"] = wireSum * 1e3 / static_cast<double>(state.iterations());
    state.counters["ratio"] = elapsedSum / wireSum;
    state.counters["median_ratio"] = median(ratios);
}
BENCHMARK(BM_ClientAgainstWire)->ArgName("apply")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
