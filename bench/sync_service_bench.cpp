#include "core/prefs/Preferences.h"
#include "core/store/Clip.h"
#include "core/sync/SyncIdentity.h"
#include "core/sync/SyncService.h"
#include "support/FakeClock.h"
#include "support/FakeServiceDiscovery.h"
#include "support/MemorySettingsStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>
#include <memory>

// A clip from one running sync service to another over loopback TCP: the
// part of copy-to-other-clipboard that sync adds (seal, send, receive,
// open, dispatch), the two event loops sharing one thread.

namespace {
struct Device {
    explicit Device(const QString& name) : prefs(settings), identity(settings, name) {}
    void boot() {
        SyncService::Options options;
        options.listenAddress = QHostAddress::LocalHost;
        options.port = 0;
        service =
            std::make_unique<SyncService>(prefs, settings, clock, identity, discovery, options);
        QObject::connect(service.get(), &SyncService::remoteClipReceived, service.get(),
                         [this] { ++received; });
        prefs.setSyncEnabled(true);
    }
    MemorySettingsStore settings;
    FakeClock clock;
    Preferences prefs;
    SyncIdentity identity;
    FakeServiceDiscovery discovery;
    std::unique_ptr<SyncService> service;
    int received = 0;
};

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
        const int before = b.received;
        // A new text each time: a recent one would not be sent again.
        a.service->broadcast(Clip::make(QString::number(++round) + text, Instant::fromUnix(1.7e9)));
        while (b.received == before)
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
