// Searching the panel's lists, per keystroke: 1,000 history clips of about
// 10 KB each, the query growing by one letter at a time.
#include "core/panel/AppState.h"
#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "support/FakeClock.h"
#include "support/MemorySettingsStore.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {
QString randomText(QRandomGenerator& random, int length) {
    static const QString letters = QStringLiteral("abcdefghijklmnopqrstuvwxyz     ÄÖÜäöüß");
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
    ClipStore store{prefs, clock, dir.filePath(QStringLiteral("store.json"))};
    AppState state{store, prefs};
};

void typeQuery(benchmark::State& run, const QString& query) {
    Panel panel;
    panel.state.setQuery(query); // the first search lower-cases every text once
    (void)panel.state.filteredHistory();
    qsizetype found = 0;
    int keystroke = 0;
    for (auto _ : run) {
        // Alternate between the query and one letter more, as typing does.
        panel.state.setQuery(keystroke++ % 2 ? query : query + QStringLiteral("x"));
        found += panel.state.filteredHistory().size();
    }
    benchmark::DoNotOptimize(found);
}

void BM_SearchKeystroke(benchmark::State& run) {
    typeQuery(run, QStringLiteral("üb"));
}
BENCHMARK(BM_SearchKeystroke)->Unit(benchmark::kMillisecond);

// Typing a word letter by letter, then clearing the field.
void BM_TypingAWord(benchmark::State& run) {
    Panel panel;
    panel.state.setQuery(QStringLiteral("a"));
    (void)panel.state.filteredHistory();
    const QString word = QStringLiteral("abcdef");
    qsizetype found = 0;
    for (auto _ : run) {
        for (qsizetype length = 1; length <= word.size(); ++length) {
            panel.state.setQuery(word.left(length));
            found += panel.state.filteredHistory().size();
        }
        panel.state.setQuery(QString());
        found += panel.state.filteredHistory().size();
    }
    run.counters["per keystroke"] =
        benchmark::Counter(static_cast<double>(run.iterations()) * 7,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    benchmark::DoNotOptimize(found);
}
BENCHMARK(BM_TypingAWord)->Unit(benchmark::kMillisecond);

void BM_FirstSearchAfterLoad(benchmark::State& run) {
    for (auto _ : run) {
        run.PauseTiming();
        auto panel = std::make_unique<Panel>();
        run.ResumeTiming();
        panel->state.setQuery(QStringLiteral("ab"));
        benchmark::DoNotOptimize(panel->state.filteredHistory().size());
        run.PauseTiming();
        panel.reset();
        run.ResumeTiming();
    }
}
BENCHMARK(BM_FirstSearchAfterLoad)->Unit(benchmark::kMillisecond)->Iterations(3);
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
