#include "core/store/Clip.h"
#include "support/BenchMain.h"
#include "support/SyncTestDevice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>
#include <memory>

using namespace Qt::StringLiterals;

// A clip from one running sync service to another over loopback TCP: the
// part of copy-to-other-clipboard that sync adds (seal, send, receive,
// open, dispatch), the two event loops sharing one thread.

namespace {
void BM_ClipOverLoopbackTcp(benchmark::State& state) {
    SyncTestDevice a(u"Anna"_s);
    SyncTestDevice b(u"Bert"_s);
    pair(a, b);
    a.boot();
    b.boot();
    a.start();
    b.start();
    b.discovery.announce({a.advertised()});
    while (a.service->connectedPeerIds().isEmpty() || b.service->connectedPeerIds().isEmpty())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

    const QString text(state.range(0), QLatin1Char('t'));
    qint64 round = 0;
    for (auto _ : state) {
        const qsizetype before = b.received.size();
        // A new text each time: a recent one would not be sent again.
        a.service->broadcast(Clip::make(QString::number(++round) + text, Instant::fromUnix(1.7e9)));
        while (b.received.size() == before)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
}
BENCHMARK(BM_ClipOverLoopbackTcp)->Arg(100)->Arg(100'000)->Unit(benchmark::kMicrosecond);
} // namespace

int main(int argc, char** argv) {
    return runBenchmarks<QCoreApplication>(argc, argv);
}
