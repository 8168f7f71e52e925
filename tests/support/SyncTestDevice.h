#pragma once

#include "core/prefs/Preferences.h"
#include "core/store/Clip.h"
#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncIdentity.h"
#include "core/sync/SyncService.h"
#include "support/FakeClock.h"
#include "support/FakeServiceDiscovery.h"
#include "support/MemorySettingsStore.h"

#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <memory>

using namespace Qt::StringLiterals;

// One device for sync tests: its own settings, identity and DNS-SD, a sync
// service listening on loopback, and what that service handed over.
struct SyncTestDevice {
    explicit SyncTestDevice(const QString& name) : prefs(settings), identity(settings, name) {}

    // Builds the service; paired devices must be in the settings by then.
    SyncService& boot(SyncService::Options options = {}) {
        options.listenAddress = QHostAddress::LocalHost;
        if (options.port == SyncService::preferredPort)
            options.port = 0;
        service =
            std::make_unique<SyncService>(prefs, settings, clock, identity, discovery, options);
        service->pinsProvider = [this] { return pins; };
        QObject::connect(service.get(), &SyncService::remoteClipReceived, service.get(),
                         [this](const QString& text, const QString& sender) {
                             received.append({text, sender});
                         });
        QObject::connect(service.get(), &SyncService::remoteClipRecorded, service.get(),
                         [this](const QString& text, const QString& sender) {
                             recorded.append({text, sender});
                         });
        QObject::connect(service.get(), &SyncService::remotePinsReceived, service.get(),
                         [this](const QList<SyncPinPayload>& p, const QList<SyncUnpinPayload>& u,
                                const std::optional<QString>& from) {
                             receivedPins.append({p, u, from});
                         });
        return *service;
    }

    SyncDevice record() const {
        return SyncDevice{
            identity.deviceId(), identity.deviceName(), identity.deviceKeyBase64(), {}, {}, {}};
    }
    QByteArray sessionKeyWith(const SyncTestDevice& other) const {
        return SyncCrypto::sharedKey(identity.deviceKey(), other.identity.deviceKey());
    }
    // The browse result that would show this device.
    ServiceDiscovery::Service advertised() const {
        return {identity.deviceName(),
                {{u"did"_s, identity.deviceId()}},
                {QHostAddress::LocalHost},
                quint16(service->listenerPort())};
    }
    void start() { prefs.setSyncEnabled(true); }
    // Opens a pairing window and waits until its key is derived and its
    // code published; the code, or empty when none came.
    QString openPairing(std::chrono::seconds duration = std::chrono::seconds(180)) {
        service->startPairing(duration);
        if (!QTest::qWaitFor([this] { return !service->isPreparingPairing(); }, 10000))
            return {};
        return service->pairingCode();
    }
    // Joins and waits until the requests have gone out or were refused;
    // what the service said about it.
    QString join(const QString& codeOrLink) {
        QSignalSpy said(service.get(), &SyncService::joinFinished);
        service->joinPairing(codeOrLink);
        if (said.isEmpty() && !said.wait(10000))
            return {};
        return said.first().first().toString();
    }
    // Sends a clip of its own to `to` and waits until `to` hands it over: by
    // then all this device sent `to` before, on the same connection, has
    // come too. The marker leaves `to.received` again, so that a test can
    // then say what did not come, with no clock involved.
    bool sendMarker(SyncTestDevice& to) {
        const QString text =
            u"marker "_s + QString::number(++markersSent) + u" from "_s + identity.deviceName();
        service->broadcast(Clip::make(text, Instant::fromUnix(1'700'000'000.0)));
        const auto arrived = [&] {
            return !to.received.isEmpty() && to.received.last().first == text;
        };
        if (!QTest::qWaitFor(arrived, 10000))
            return false;
        to.received.removeLast();
        return true;
    }
    bool connectedTo(const SyncTestDevice& other) const {
        return service->connectedPeerIds().contains(other.identity.deviceId());
    }

    struct Pins {
        QList<SyncPinPayload> pins;
        QList<SyncUnpinPayload> unpinned;
        std::optional<QString> from;
    };

    MemorySettingsStore settings;
    // Just after the times the sync tests send: a clip or pin stamp that
    // lies ahead of the clock, or long before it, is not taken as sent.
    FakeClock clock{Instant::fromUnix(1'700'000'060.0)};
    Preferences prefs;
    SyncIdentity identity;
    FakeServiceDiscovery discovery;
    std::unique_ptr<SyncService> service;
    SyncService::PinsSnapshot pins;
    QList<std::pair<QString, QString>> received;
    // Clips handed over for the history only (copies missed while away).
    QList<std::pair<QString, QString>> recorded;
    QList<Pins> receivedPins;
    int markersSent = 0;
};

// Each of the two knows the other, as after a pairing.
inline void pair(SyncTestDevice& a, SyncTestDevice& b) {
    SyncPeerStore(a.settings, a.clock).upsert(b.record());
    SyncPeerStore(b.settings, b.clock).upsert(a.record());
}
