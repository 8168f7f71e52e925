// The clip store's hot paths: a capture into a full history, saving and
// loading a full store, and merging a pin state from another device. The
// memory cases (run them alone: --benchmark_filter=Memory) report resident
// memory against the text the store holds.
#include "core/panel/AppState.h"
#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "core/store/PinsState.h"
#include "core/store/StoreCodec.h"
#include "core/sync/SyncCrypto.h"
#include "support/FakeClock.h"
#include "support/FakeWorkspace.h"
#include "support/ManualScheduler.h"
#include "support/MemorySettingsStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThreadPool>
#include <benchmark/benchmark.h>
#include <ctime>
#include <memory>

using namespace Qt::StringLiterals;

namespace {
constexpr int kClips = 1000;

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

QString kilobyteText(int n) {
    QString text = u"clip %1 "_s.arg(n);
    while (text.size() < 1024)
        text += u"lorem ipsum dolor sit amet, "_s;
    text.truncate(1024);
    return text;
}

// A store with its own folder and settings; 1000 clips in history when full.
struct Bench {
    explicit Bench(bool full) : prefs(settings) {
        prefs.setHistoryLimit(kClips);
        store = std::make_unique<ClipStore>(prefs, clock, path());
        if (!full)
            return;
        QList<Clip> clips;
        for (int i = 0; i < kClips; ++i)
            clips.append(Clip::make(kilobyteText(i), clock.now().plus(-i), u"org.example.App"_s));
        store->setHistory(clips);
    }
    QString path() const { return dir.filePath(u"store.json"_s); }

    QTemporaryDir dir;
    MemorySettingsStore settings;
    Preferences prefs;
    FakeClock clock;
    std::unique_ptr<ClipStore> store;
};

void BM_RecordNewIntoFullHistory(benchmark::State& state) {
    Bench bench(true);
    int n = kClips;
    for (auto _ : state) {
        bench.clock.advance(1);
        bench.store->record(kilobyteText(n++));
    }
}
BENCHMARK(BM_RecordNewIntoFullHistory)->Unit(benchmark::kMicrosecond);

// A re-copied text near the end of a full history is promoted.
void BM_RecordDuplicateIntoFullHistory(benchmark::State& state) {
    Bench bench(true);
    for (auto _ : state) {
        bench.clock.advance(1);
        bench.store->record(bench.store->history().last().text());
    }
}
BENCHMARK(BM_RecordDuplicateIntoFullHistory)->Unit(benchmark::kMicrosecond);

// A 16 MiB capture against a history that already holds two such texts.
void BM_RecordHugeText(benchmark::State& state) {
    Bench bench(true);
    const QString base(16 * 1024 * 1024, u'x');
    bench.store->record(u"a"_s + base);
    bench.store->record(u"b"_s + base);
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString text = QString::number(n++) + base;
        state.ResumeTiming();
        bench.store->record(text);
    }
}
BENCHMARK(BM_RecordHugeText)->Unit(benchmark::kMillisecond)->Iterations(10);

// 1 KB of text mixing scripts, as real clips do: UTF-8 of 1 to 4 bytes.
QString mixedText(int n) {
    QString text = u"clip %1 "_s.arg(n);
    const QString parts[] = {u"plain words, "_s, u"caf\u00e9 cr\u00e8me "_s,
                             u"\u6f22\u5b57\u304b\u306a "_s, u"\U0001F600 "_s,
                             u"\"quoted\"\tand\n"_s};
    for (int i = 0; text.size() < 1024; ++i)
        text += parts[(n + i) % 5];
    text.truncate(1024);
    return text;
}

void fillMixed(Bench& bench) {
    QList<Clip> clips;
    for (int i = 0; i < kClips; ++i)
        clips.append(Clip::make(mixedText(i), bench.clock.now().plus(-i)));
    bench.store->setHistory(clips);
}

// What a save costs the GUI thread: handing the snapshot to the writer, and
// (with state.range(0) = 1) the first change after it, which copies the list
// the writer still reads; 0 times that change without a save before it. The
// encoding and the write run on the writer's thread.
void BM_SaveGuiThreadCost1000Mixed(benchmark::State& state) {
    Bench bench(false);
    fillMixed(bench);
    const bool timeChange = state.range(0) == 1;
    for (auto _ : state) {
        if (timeChange)
            state.PauseTiming();
        bench.store->saveSoon();
        if (timeChange)
            state.ResumeTiming();
        bench.store->promote(bench.store->history().last());
        state.PauseTiming();
        bench.store->save(); // lets the writer finish outside the measurement
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SaveGuiThreadCost1000Mixed)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(100) // each waits for a whole write, untimed
    ->Unit(benchmark::kMicrosecond);

void BM_ChangeWithoutSave1000Mixed(benchmark::State& state) {
    Bench bench(false);
    fillMixed(bench);
    for (auto _ : state)
        bench.store->promote(bench.store->history().last());
}
BENCHMARK(BM_ChangeWithoutSave1000Mixed)->Unit(benchmark::kMicrosecond);

// The whole save, encoding and atomic write, as save() at quit waits for it.
void BM_SaveAndWait1000Mixed(benchmark::State& state) {
    Bench bench(false);
    fillMixed(bench);
    for (auto _ : state)
        benchmark::DoNotOptimize(bench.store->save());
}
BENCHMARK(BM_SaveAndWait1000Mixed)->Unit(benchmark::kMillisecond);

// save() hands the encoding and the write to the writer's thread and waits
// for it: the time and the bytes per second are the whole save's, by the
// clock; gui_thread_cpu is what the calling thread itself spent on it.
void BM_Save1000(benchmark::State& state) {
    Bench bench(true);
    double guiCpu = 0;
    for (auto _ : state) {
        const double before = threadCpuSeconds();
        benchmark::DoNotOptimize(bench.store->save());
        guiCpu += threadCpuSeconds() - before;
    }
    state.SetBytesProcessed(state.iterations() * bench.store->storeSizeOnDisk());
    state.counters["gui_thread_cpu_ms"] =
        benchmark::Counter(guiCpu * 1e3, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_Save1000)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Encode1000(benchmark::State& state) {
    Bench bench(true);
    for (auto _ : state)
        benchmark::DoNotOptimize(bench.store->encoded());
}
BENCHMARK(BM_Encode1000)->Unit(benchmark::kMillisecond);

// A store full to its text budget with two copies of 31 MiB: what the save
// at quit encodes.
void BM_EncodeTwoLargeTexts(benchmark::State& state) {
    StoreContents contents;
    for (int i = 0; i < 2; ++i)
        contents.history.append(
            Clip::make(QString(31 * 1024 * 1024, QLatin1Char(i == 0 ? 'x' : 'y')), Instant{}));
    for (auto _ : state)
        benchmark::DoNotOptimize(StoreCodec::encode(contents));
    state.SetBytesProcessed(state.iterations() * 62 * 1024 * 1024);
}
BENCHMARK(BM_EncodeTwoLargeTexts)->Unit(benchmark::kMillisecond);

void BM_Load1000(benchmark::State& state) {
    Bench bench(true);
    bench.store->save();
    for (auto _ : state) {
        ClipStore loaded(bench.prefs, bench.clock, bench.path());
        benchmark::DoNotOptimize(loaded.history().size());
    }
}
BENCHMARK(BM_Load1000)->Unit(benchmark::kMillisecond);

PinsState remoteState(const Instant now) {
    PinsState state;
    for (int i = 0; i < 20; ++i)
        state.pins.append({kilobyteText(i).left(200), now.plus(-i).unix()});
    for (int i = 0; i < 200; ++i)
        state.unpinned.append(
            {SyncCrypto::hash(u"unpinned %1"_s.arg(i)), now.plus(-1000 - i).unix()});
    return state;
}

// 20 pins and 200 unpin records into a store that has none of them yet.
void BM_MergePinsFresh(benchmark::State& state) {
    Bench bench(false);
    bench.prefs.setPinLimit(20);
    const PinsState remote = remoteState(bench.clock.now());
    for (auto _ : state) {
        state.PauseTiming();
        bench.store = std::make_unique<ClipStore>(bench.prefs, bench.clock, bench.path());
        state.ResumeTiming();
        benchmark::DoNotOptimize(bench.store->mergePins(remote.pins, remote.unpinned));
    }
}
BENCHMARK(BM_MergePinsFresh)->Unit(benchmark::kMicrosecond);

// The same state again: what a peer sends on every reconnect.
void BM_MergePinsUnchanged(benchmark::State& state) {
    Bench bench(false);
    bench.prefs.setPinLimit(20);
    const PinsState remote = remoteState(bench.clock.now());
    bench.store->mergePins(remote.pins, remote.unpinned);
    for (auto _ : state)
        benchmark::DoNotOptimize(bench.store->mergePins(remote.pins, remote.unpinned));
}
BENCHMARK(BM_MergePinsUnchanged)->Unit(benchmark::kMicrosecond);
} // namespace

// Resident memory of this process in MiB.
double residentMiB() {
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

// A store with the panel's state beside it, as in the program: the state
// prepares every text for searching on a pooled thread after each change.
struct Watched {
    Watched() : prefs(settings) {
        prefs.setHistoryLimit(1000);
        store = std::make_unique<ClipStore>(prefs, clock, dir.filePath(u"store.json"_s));
        state = std::make_unique<AppState>(*store, prefs, workspace, scheduler);
        settle();
    }
    // Lets the preparing finish, as an idle event loop would.
    void settle() {
        do {
            QCoreApplication::processEvents();
            QThreadPool::globalInstance()->waitForDone();
            QCoreApplication::processEvents();
        } while (state->unpreparedTexts() > 0);
    }
    qint64 utf8Bytes() const {
        qint64 total = 0;
        for (const QList<Clip>* list : {&store->pinned(), &store->history()})
            for (const Clip& clip : *list)
                total += clip.text().toUtf8().size();
        return total;
    }

    QTemporaryDir dir;
    MemorySettingsStore settings;
    Preferences prefs;
    FakeClock clock;
    FakeWorkspace workspace;
    ManualScheduler scheduler;
    std::unique_ptr<ClipStore> store;
    std::unique_ptr<AppState> state;
};

// Eighteen copies of 31 MiB of plain text, as `tindrel add` gives them: how
// much the store keeps, resident memory per byte of it (UTF-8, as copied),
// and the save at quit.
void BM_MemoryLargeCopies(benchmark::State& state) {
    for (auto _ : state) {
        const double before = residentMiB();
        Watched w;
        for (int i = 0; i < 18; ++i) {
            w.clock.advance(1);
            QString text(31 * 1024 * 1024, u'x');
            text.replace(0, 8, u"%1 "_s.arg(i, 7));
            w.store->record(text);
            w.settle();
        }
        const double grown = residentMiB() - before;
        QElapsedTimer timer;
        timer.start();
        benchmark::DoNotOptimize(w.store->encoded());
        const double encodeMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        timer.restart();
        w.store->save(); // encoding, and writing with a sync to disk
        const double saveMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        const double held = static_cast<double>(w.utf8Bytes()) / (1024.0 * 1024.0);
        state.counters["clips_kept"] = static_cast<double>(w.store->history().size());
        state.counters["text_MiB"] = held;
        state.counters["rss_grown_MiB"] = grown;
        state.counters["rss_per_text"] = held > 0 ? grown / held : 0;
        state.counters["encode_ms"] = encodeMs;
        state.counters["save_ms"] = saveMs;
        state.counters["file_MiB"] =
            static_cast<double>(w.store->storeSizeOnDisk()) / (1024.0 * 1024.0);
    }
}
BENCHMARK(BM_MemoryLargeCopies)->Iterations(1)->Unit(benchmark::kSecond);

// Eight floods of 1,000 clips of 10 KB from another device into a history of
// 100, the panel closed: resident memory should stay flat from one to the
// next. Reports the growth over the first flood and over the last seven.
void BM_MemoryRepeatedFloods(benchmark::State& state) {
    for (auto _ : state) {
        Watched w;
        w.prefs.setHistoryLimit(100);
        const QString body(10 * 1024 - 16, u'y');
        double afterFirst = 0;
        const double before = residentMiB();
        for (int flood = 0; flood < 8; ++flood) {
            for (int i = 0; i < 1000; ++i) {
                w.clock.advance(0.01);
                w.store->record(u"%1 %2 "_s.arg(flood).arg(i, 4) + body, u"sync:Peer"_s);
                if (i % 50 == 49)
                    w.settle(); // clips arrive over time, not all at once
            }
            w.settle();
            const double now = residentMiB();
            state.counters["rss_flood_" + std::to_string(flood + 1)] = now;
            if (flood == 0)
                afterFirst = now;
        }
        state.counters["first_flood_MiB"] = afterFirst - before;
        state.counters["last_seven_MiB"] = residentMiB() - afterFirst;
        state.counters["texts_prepared"] = static_cast<double>(w.state->preparedTexts());
    }
}
BENCHMARK(BM_MemoryRepeatedFloods)->Iterations(1)->Unit(benchmark::kSecond);

// Timers need an application object.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
