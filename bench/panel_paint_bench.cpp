// Drawing the clip panel: a full repaint, a hover over a row and a selection
// step, with one clip of 3,000,000 characters on a single line in the history
// beside ordinary ones, and the same panel with that clip 3,000 characters
// long. Both should cost the same.
#include "core/panel/AppState.h"
#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "support/FakeClock.h"
#include "support/FakeWorkspace.h"
#include "support/ManualScheduler.h"
#include "support/MemorySettingsStore.h"
#include "ui/panel/ClipListView.h"
#include "ui/panel/ContentView.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

using namespace Qt::StringLiterals;

namespace {
struct Panel {
    explicit Panel(qsizetype longLength) {
        prefs.setHistoryLimit(1000);
        prefs.setMaxClipLength(0);
        for (int i = 0; i < 20; ++i)
            store.record(u"ordinary clip %1\nwith a second line"_s.arg(i));
        store.record(QString(longLength, u'L') + u" end"_s);
        store.record(u"newest"_s);
        content.resize(380, 600);
        image = QImage(content.size(), QImage::Format_ARGB32_Premultiplied);
    }
    void paint() { content.render(&image); }

    MemorySettingsStore settings;
    Preferences prefs{settings};
    FakeClock clock;
    QTemporaryDir dir;
    ClipStore store{prefs, clock, dir.filePath(u"store.json"_s)};
    FakeWorkspace workspace;
    ManualScheduler scheduler;
    AppState state{store, prefs, workspace, scheduler};
    ContentView content{state, prefs};
    QImage image;
};

// Building a panel with a 3 MB clip takes a while: one per length, reused.
std::unique_ptr<Panel> current;
qsizetype currentLength = -1;

Panel& panelFor(qsizetype length) {
    if (currentLength != length) {
        current.reset();
        current = std::make_unique<Panel>(length);
        currentLength = length;
    }
    return *current;
}

void BM_Repaint(benchmark::State& run) {
    Panel& panel = panelFor(run.range(0));
    panel.paint(); // the first showing
    for (auto _ : run)
        panel.paint();
}

// The pointer moves between the long clip's row and its neighbour.
void BM_Hover(benchmark::State& run) {
    Panel& panel = panelFor(run.range(0));
    panel.paint();
    ClipListView* recent = panel.content.recentList();
    const QPoint rows[] = {recent->rowRect(1).center(), recent->rowRect(2).center()};
    int next = 0;
    for (auto _ : run) {
        const QPointF at(rows[next++ % 2]);
        QMouseEvent move(QEvent::MouseMove, at, recent->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(recent, &move);
        panel.paint();
    }
}

// Down and up over the long clip: the rows are rebuilt each time.
void BM_SelectionStep(benchmark::State& run) {
    Panel& panel = panelFor(run.range(0));
    panel.paint();
    int next = 0;
    for (auto _ : run) {
        panel.state.setSelection(next++ % 2 ? 1 : 2);
        panel.paint();
    }
}

BENCHMARK(BM_Repaint)->Arg(3'000)->Arg(3'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Hover)->Arg(3'000)->Arg(3'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectionStep)->Arg(3'000)->Arg(3'000'000)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    current.reset();
    return 0;
}
