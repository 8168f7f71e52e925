#include "core/store/Clip.h"
#include "support/SyncTestDevice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>
#include <memory>

// A clip from one running sync service to another over loopback TCP: the
// part of copy-to-other-clipboard that sync adds (seal, send, receive,
// open, dispatch), the two event loops sharing one thread.

namespace {
void BM_ClipOverLoopbackTcp(benchmark::State& state) {
    Device a(QStringLiteral("Anna"));
    Device b(QStringLiteral("Bert"));
    auto record = [](const Device& d) {
        return SyncDevice{d.identity.deviceId(),
                          d.identity.deviceName(),
                          d.identity.deviceKeyBase64(),
                          {},
                          {},
                          {}};
    };
    SyncPeerStore(a.settings, a.clock).upsert(record(b));
    SyncPeerStore(b.settings, b.clock).upsert(record(a));
    a.boot();
    b.boot();
    b.discovery.announce({{QStringLiteral("Anna"),
                           {{QStringLiteral("did"), a.identity.deviceId()}},
                           {QHostAddress::LocalHost},
                           quint16(a.service->listenerPort())}});
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
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
