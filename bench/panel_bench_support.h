// What the panel benchmarks share: the process's resident memory, a panel
// whose COM slots lead nowhere (or COM1 to a given device), and a main that
// runs the benchmarks in an offscreen QApplication.
#pragma once

#include "gui/cshutterpaneldlg.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstddef>
#include <cstdio>

namespace veltra::bench {

// Resident set size of this process in bytes, from /proc/self/statm.
inline double residentBytes() {
    long total = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &total, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// Every COM slot points at a device that cannot exist, except COM1 when a
// device is given: the bytes come from the benchmark, not from a line.
inline PanelOptions benchPorts(const QString& com1 = {}) {
    PanelOptions o;
    for (int i = 0; i < kPortCount; ++i)
        o.devices[static_cast<std::size_t>(i)] = QStringLiteral("/nonexistent/veltra-bench-com%1").arg(i + 1);
    if (!com1.isEmpty())
        o.devices[0] = com1;
    return o;
}

// Widgets draw into memory: no display is needed.
inline int runPanelBenchmarks(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace veltra::bench
