// Throughput of one SyncConnection pair on loopback: sealing, framing, TCP,
// reassembly and opening, as a clip travels between two devices.

#include "core/sync/SyncConnection.h"
#include "core/sync/SyncCrypto.h"
#include "support/BenchMain.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <benchmark/benchmark.h>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QByteArray sessionKey(32, 'k');

struct Pair {
    Pair() {
        server.listen(QHostAddress::LocalHost, 0);
        sender = std::make_unique<SyncConnection>(
            SyncEndpoint{QHostAddress::LocalHost, server.serverPort()}, u"PEER"_s, u"Peer"_s,
            sessionKey);
        sender->start();
        server.waitForNewConnection(5000);
        receiver = std::make_unique<SyncConnection>(
            server.nextPendingConnection(), SyncConnection::Role::inbound,
            QList<SyncConnection::CandidateKey>{{u"PEER"_s, sessionKey}});
        QObject::connect(receiver.get(), &SyncConnection::messageReceived, receiver.get(),
                         [this] { ++received; });
        receiver->start();
        // The receiver binds its key on a first small frame, as after a hello.
        sender->send(SyncMessage::ping());
        while (received == 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        received = 0;
    }
    QTcpServer server;
    std::unique_ptr<SyncConnection> sender;
    std::unique_ptr<SyncConnection> receiver;
    qint64 received = 0;
};

SyncMessage clipOf(qsizetype textBytes) {
    SyncMessage message;
    message.type = SyncMessageType::clip;
    message.id = u"6F1C2E0A-0000-4000-8000-000000000001"_s;
    message.text = QString(textBytes, u'x');
    message.hash = SyncCrypto::hash(*message.text);
    return message;
}

// Streams clips with a bounded number in flight, so the sender never comes
// near its pending-send limit.
void streamClips(benchmark::State& state, qsizetype textBytes, int window) {
    Pair pair;
    const SyncMessage clip = clipOf(textBytes);
    const qint64 frameBytes = 4 + clip.seal(sessionKey).value().size();
    qint64 sent = 0;
    for (auto _ : state) {
        while (sent - pair.received >= window)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        pair.sender->send(clip);
        ++sent;
    }
    while (pair.received < sent)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    state.SetItemsProcessed(sent);
    state.SetBytesProcessed(sent * frameBytes);
}

void BM_SyncConnection_1KiB(benchmark::State& state) {
    streamClips(state, 1024, 64);
}
// The largest clip that still seals into one 1 MiB frame.
void BM_SyncConnection_1MiB(benchmark::State& state) {
    streamClips(state, SyncCrypto::maxSealedSize - 512, 4);
}

BENCHMARK(BM_SyncConnection_1KiB)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SyncConnection_1MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return runBenchmarks<QCoreApplication>(argc, argv);
}
