#include "support/SyncTestDevice.h"

#include <QCoreApplication>
#include <cstdio>
#include <deque>

using namespace Qt::StringLiterals;

// Stand-ins for many paired devices, all in this one process: each is a sync
// service paired with the given device and linked to it through the relay.
// Prints "id key" for each, so that a script can pair the device back.
// Usage: tindrel-sync-peers RELAY_URL DEVICE_ID DEVICE_KEY COUNT
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 5) {
        std::fputs("usage: tindrel-sync-peers RELAY_URL DEVICE_ID DEVICE_KEY COUNT\n", stderr);
        return 2;
    }
    const SyncDevice target{args.at(2), u"Anna"_s, args.at(3), {}, {}, {}};
    std::deque<SyncTestDevice> peers;
    for (int i = 1; i <= args.at(4).toInt(); ++i) {
        SyncTestDevice& peer = peers.emplace_back(u"Peer"_s + QString::number(i));
        SyncPeerStore(peer.settings, peer.clock).upsert(target);
        peer.prefs.setRelayEnabled(true);
        peer.prefs.setRelayURL(args.at(1));
        peer.boot();
        peer.start();
        std::printf("%s %s\n", qPrintable(peer.identity.deviceId()),
                    qPrintable(peer.identity.deviceKeyBase64()));
    }
    std::fflush(stdout);
    return QCoreApplication::exec();
}
