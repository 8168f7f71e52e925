// Start-up's share of the store: loading a file that holds more clips than
// the history keeps (a lower limit set since, or a file from elsewhere), and
// how much of that is the JSON parse every load needs. BM_LoadStoreFile
// includes giving the freed memory back, which in a loop the next load then
// takes from the system again.
#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "core/store/StoreCodec.h"
#include "core/util/Utf8.h"
#include "support/BenchMain.h"
#include "support/FakeClock.h"
#include "support/MemorySettingsStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonParseError>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {
constexpr int kKept = 1000;

// `count` clips of 20 to 400 characters, newest first, and five pins.
QByteArray storeFile(int count, const FakeClock& clock) {
    QRandomGenerator random(7);
    const QStringList words =
        u"alpha beta gamma delta copy paste clip panel search pin"_s.split(u' ');
    StoreContents contents;
    for (int i = 0; i < count; ++i) {
        QString text = u"%1:"_s.arg(i);
        const int length = random.bounded(20, 401);
        while (text.size() < length)
            text += u' ' + words.at(random.bounded(qsizetype(words.size())));
        text.truncate(length);
        contents.history.append(Clip::make(text, clock.now().plus(-i)));
    }
    for (int k = 0; k < 5; ++k) {
        Clip pin = Clip::make(u"pin %1"_s.arg(k), clock.now());
        pin.setPinnedAt(clock.now().plus(-k));
        contents.pinned.append(pin);
    }
    return StoreCodec::encode(contents);
}

struct Fixture {
    explicit Fixture(int count) : prefs(settings) {
        prefs.setHistoryLimit(kKept);
        bytes = storeFile(count, clock);
        QFile file(path());
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }
    QString path() const { return dir.filePath(u"store.json"_s); }

    QTemporaryDir dir;
    MemorySettingsStore settings;
    Preferences prefs;
    FakeClock clock;
    QByteArray bytes;
};

void BM_LoadStoreFile(benchmark::State& state) {
    Fixture fixture(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        ClipStore loaded(fixture.prefs, fixture.clock, fixture.path());
        benchmark::DoNotOptimize(loaded.history().size());
    }
    state.counters["clips_in_file"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_LoadStoreFile)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// Decoding the file as loading does: every clip checked, only those the
// history keeps built.
void BM_DecodeKeptClips(benchmark::State& state) {
    Fixture fixture(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(
            StoreCodec::decode(fixture.bytes, StoreCodec::Unpinned::Read, kKept));
}
BENCHMARK(BM_DecodeKeptClips)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The same with every clip built, to be cut afterwards.
void BM_DecodeEveryClip(benchmark::State& state) {
    Fixture fixture(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(StoreCodec::decode(fixture.bytes));
}
BENCHMARK(BM_DecodeEveryClip)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The floor for any load that still checks the whole file.
void BM_ParseStoreJson(benchmark::State& state) {
    Fixture fixture(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        QJsonParseError error;
        benchmark::DoNotOptimize(Utf8::parseJson(fixture.bytes, &error));
    }
}
BENCHMARK(BM_ParseStoreJson)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
} // namespace

// The store's timers need an application object.
int main(int argc, char** argv) {
    return runBenchmarks<QCoreApplication>(argc, argv);
}
