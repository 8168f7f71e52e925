// Searching the panel's lists, per keystroke: 1,000 history clips of about
// 10 KB each.
#include "core/panel/AppState.h"
#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "support/BenchMain.h"
#include "support/FakeClock.h"
#include "support/FakeWorkspace.h"
#include "support/ManualScheduler.h"
#include "support/MemorySettingsStore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {
QString randomText(QRandomGenerator& random, int length) {
    static const QString letters = u"abcdefghijklmnopqrstuvwxyz     ÄÖÜäöüß"_s;
    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text += letters[random.bounded(static_cast<int>(letters.size()))];
    return text;
}

struct Panel {
    Panel() {
        prefs.setHistoryLimit(1000);
        QRandomGenerator random(7);
        for (int i = 0; i < 1000; ++i)
            store.record(QString::number(i) + randomText(random, 10 * 1024));
    }
    MemorySettingsStore settings;
    Preferences prefs{settings};
    FakeClock clock;
    QTemporaryDir dir;
    ClipStore store{prefs, clock, dir.filePath(u"store.json"_s)};
    FakeWorkspace workspace;
    ManualScheduler scheduler;
    AppState state{store, prefs, workspace, scheduler};
};

// Queries the panel has not seen since the store changed and that hardly any
// clip contains, the worst case: every keystroke reads all 1,000 texts to
// their end. The panel remembers its last few searches, so these cycle
// through more than it keeps.
QStringList freshQueries() {
    QStringList queries;
    for (const QChar letter : u"abcdefghijklmnopqrstuvwxyz"_s)
        queries << letter + u"üxq"_s;
    return queries;
}

void BM_SearchKeystroke(benchmark::State& run) {
    Panel panel;
    panel.state.setQuery(u"a"_s); // the first search folds every text once
    (void)panel.state.filteredHistory();
    const QStringList queries = freshQueries();
    qsizetype found = 0;
    qsizetype next = 0;
    for (auto _ : run) {
        panel.state.setQuery(queries[next++ % queries.size()]);
        found += panel.state.filteredHistory().size();
    }
    benchmark::DoNotOptimize(found);
}
BENCHMARK(BM_SearchKeystroke)->Unit(benchmark::kMillisecond);

// Typing a new word letter by letter, deleting it letter by letter, then
// clearing the field: the first letter scans everything, the others narrow
// or go back to an earlier result.
void BM_TypingAWord(benchmark::State& run) {
    Panel panel;
    panel.state.setQuery(u"a"_s);
    (void)panel.state.filteredHistory();
    const QStringList starts = freshQueries();
    qsizetype found = 0;
    qsizetype next = 0;
    for (auto _ : run) {
        const QString word = starts[next++ % starts.size()];
        for (qsizetype length = 1; length <= word.size(); ++length) {
            panel.state.setQuery(word.left(length));
            found += panel.state.filteredHistory().size();
        }
        for (qsizetype length = word.size() - 1; length >= 0; --length) {
            panel.state.setQuery(word.left(length));
            found += panel.state.filteredHistory().size();
        }
    }
    const qsizetype keystrokes = 2 * starts.front().size();
    run.counters["per keystroke"] =
        benchmark::Counter(static_cast<double>(run.iterations() * keystrokes),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    benchmark::DoNotOptimize(found);
}
BENCHMARK(BM_TypingAWord)->Unit(benchmark::kMillisecond);

// The first keystroke after start: the texts were prepared in the background
// meanwhile (as while the user reaches for the hot key), so it only reads them.
void BM_FirstSearchAfterLoad(benchmark::State& run) {
    for (auto _ : run) {
        run.PauseTiming();
        auto panel = std::make_unique<Panel>();
        QDeadlineTimer deadline(30'000);
        while (panel->state.unpreparedTexts() > 0 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        run.ResumeTiming();
        panel->state.setQuery(u"ab"_s);
        benchmark::DoNotOptimize(panel->state.filteredHistory().size());
        run.PauseTiming();
        panel.reset();
        run.ResumeTiming();
    }
}
BENCHMARK(BM_FirstSearchAfterLoad)->Unit(benchmark::kMillisecond)->Iterations(3);
// The same keystroke when it comes before the background batch is done (the
// batch is held back here): it folds every text itself, as every first
// keystroke did before texts were prepared ahead.
void BM_FirstSearchBeforeTextsArePrepared(benchmark::State& run) {
    for (auto _ : run) {
        run.PauseTiming();
        auto panel = std::make_unique<Panel>();
        panel->state.setBackground([](std::function<void()>) {});
        QCoreApplication::processEvents();
        run.ResumeTiming();
        panel->state.setQuery(u"ab"_s);
        benchmark::DoNotOptimize(panel->state.filteredHistory().size());
        run.PauseTiming();
        panel.reset();
        run.ResumeTiming();
    }
}
BENCHMARK(BM_FirstSearchBeforeTextsArePrepared)->Unit(benchmark::kMillisecond)->Iterations(3);
} // namespace

int main(int argc, char** argv) {
    return runBenchmarks<QCoreApplication>(argc, argv);
}
