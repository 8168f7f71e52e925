#include "core/sync/SyncCrypto.h"

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {
QByteArray benchKey() {
    return QByteArray(SyncCrypto::keySize, '\x5a');
}

// One sealed round trip: what a sender and a receiver pay per message.
void BM_SealOpen(benchmark::State& state) {
    const QByteArray key = benchKey();
    const QByteArray plain(state.range(0), 'c');
    for (auto _ : state) {
        auto sealed = SyncCrypto::seal(plain, key);
        auto opened = SyncCrypto::open(*sealed, key);
        benchmark::DoNotOptimize(opened);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SealOpen)
    ->Arg(1024)
    ->Arg(SyncCrypto::maxSealedSize - SyncCrypto::sealOverhead)
    ->Unit(benchmark::kMicrosecond);

// A new code every round, so the per-code cache never answers; the count
// carries over between repetitions for the same reason.
void BM_PairingKey(benchmark::State& state) {
    static int round = 0;
    for (auto _ : state) {
        auto key = SyncCrypto::pairingKey(u"BENCH%1"_s.arg(++round, 4, 10, QChar(u'0')));
        benchmark::DoNotOptimize(key);
    }
}
BENCHMARK(BM_PairingKey)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PairingKeyCached(benchmark::State& state) {
    const QString code = u"7K0-M1N-P4Q"_s;
    (void)SyncCrypto::pairingKey(code);
    for (auto _ : state) {
        auto key = SyncCrypto::pairingKey(code);
        benchmark::DoNotOptimize(key);
    }
}
BENCHMARK(BM_PairingKeyCached)->Unit(benchmark::kMicrosecond);
} // namespace

BENCHMARK_MAIN();
