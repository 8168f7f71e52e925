// The cost of the clipboard monitor while nothing is copied.
//
// As a benchmark: one poll tick that finds no change, against the in-memory
// clipboard. With --idle-run <seconds>: the monitor alone on the real X11
// clipboard, polling every 0.4 s, for bench/idle_monitor.sh to measure the
// process's CPU time.
#include "core/capture/ClipboardMonitor.h"
#include "core/prefs/Preferences.h"
#include "platform/x11/X11Parts.h"
#include "support/FakePasteboard.h"
#include "support/FakeWorkspace.h"
#include "support/MemorySettingsStore.h"

#include <QGuiApplication>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>

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

int idleRun(int argc, char** argv, int seconds) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const auto desktop = X11Parts::open();
    if (!desktop) {
        std::fputs("no X display\n", stderr);
        return 1;
    }
    MemorySettingsStore settings;
    Preferences prefs(settings);
    ClipboardMonitor monitor(prefs, *desktop->pasteboard(), desktop->workspace());
    int captures = 0;
    QObject::connect(&monitor, &ClipboardMonitor::copied, [&] { ++captures; });
    monitor.start(0.4);
    QTimer::singleShot(std::chrono::seconds(seconds), &app, &QCoreApplication::quit);
    std::puts("ready");
    std::fflush(stdout);
    const int status = QGuiApplication::exec();
    std::printf("captures %d\n", captures);
    return status;
}
} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--idle-run") == 0)
        return idleRun(argc, argv, std::atoi(argv[2]));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
