// The cost of the clipboard monitor while nothing is copied.
//
// One poll tick that finds no change, against the in-memory clipboard (the
// whole program idling is bench/idle_monitor.sh's).
#include "core/capture/ClipboardMonitor.h"
#include "core/prefs/Preferences.h"
#include "support/FakePasteboard.h"
#include "support/FakeWorkspace.h"
#include "support/MemorySettingsStore.h"

#include <benchmark/benchmark.h>

namespace {
void BM_PollWithoutChange(benchmark::State& state) {
    MemorySettingsStore settings;
    Preferences prefs(settings);
    FakePasteboard board;
    FakeWorkspace workspace;
    ClipboardMonitor monitor(prefs, board, workspace);
    for (auto _ : state)
        monitor.poll();
}
BENCHMARK(BM_PollWithoutChange);
} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
