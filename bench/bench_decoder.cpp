// Decoding alone: bytes per second through the reply decoder on a stream of
// status replies (Fast and Neutral Density layouts alternating).
#include "panel/shutter_panel.h"
#include "support/fakes.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

const std::vector<int> kReplies = {
    0xCC, 0xAA, 0xDC, 0x00, 0xA0, 0xB0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0x05, 0x07, 0x45, 0x67, 0xF3, 0x00, 0x0A, 0x0D,
    0xCC, 0xAC, 0xDE, 0x48, 0x00, 0xA2, 0xB1, 0x10, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF2, 0x00, 0x03,
};

void BM_DecodeStatusReplies(benchmark::State& state) {
    veltra::test::RecordingSink sink;
    veltra::test::ScriptedPrompter prompter;
    veltra::ShutterPanel panel(sink, prompter);
    panel.setActivePort(1);
    veltra::PanelState s;
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (int b : kReplies) panel.onPortRxChar(s, b, 1);
        bytes += kReplies.size();
        // Keep the log from growing without bound across iterations.
        if (s.log.size() > 1'000'000) {
            state.PauseTiming();
            s.log.clear();
            state.ResumeTiming();
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["lines"] = static_cast<double>(s.log.size());
}
BENCHMARK(BM_DecodeStatusReplies);

}  // namespace

BENCHMARK_MAIN();
