#pragma once

#include "core/sync/RelayLink.h"
#include "core/sync/RelayProbe.h"
#include "core/sync/RelayStateGate.h"
#include "core/sync/SyncContext.h"
#include "core/sync/SyncOptions.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

// The relay: one link per paired device, in the room only the two of them
// can name, while the relay is on. A link that comes up asks the other side
// for its state and sends ours, since the relay keeps nothing for a member
// that joins later.
class RelayLinkProvider : public QObject {
    Q_OBJECT
public:
    // The relay we ship lets one address hold 32 connections (its
    // --per-address default); the pairing window and a pasted link's join
    // each take one more, so the links to devices stop two short of it.
    // Devices past these sync over the local network only.
    static constexpr qsizetype maxRelayLinks = 30;

    RelayLinkProvider(SyncContext& context, const SyncOptions& options, QObject* parent = nullptr);
    ~RelayLinkProvider() override;

    // What a device is sent when a link to it comes up or it asks again: our
    // device list and pins, as far as it speaks them.
    std::function<QList<SyncMessage>(const QString& deviceId)> stateFor;

    QStringList connectedPeerIds() const;
    // Rebuilds every link from the settings.
    void restart();
    // Opens the links that are missing and closes those no longer wanted,
    // keeping the rest.
    void update();
    void stop();
    void closePeer(const QString& id);
    // Another way to the device works again: its link's back-off starts over.
    void resetBackoff(const QString& deviceId);

Q_SIGNALS:
    void linkUp(RelayLink* link);
    void linkDown(RelayLink* link);
    // Every message but the relay's own ping, from a current link.
    void received(PeerLink* link, const SyncMessage& message);
    // The device has just come into the room (it pings on arrival).
    void pinged(RelayLink* link);
    void connectedPeerIdsChanged();

private:
    void connectedChanged(RelayLink* link, bool connected);
    void handle(const SyncMessage& message, RelayLink* link);
    void sendState(RelayLink* link);
    void answerPing(RelayLink* link);
    void retire(RelayLink* link);
    void setConnected(QSet<QString> ids);
    // The relay is away: watched for, so that the links waiting on their
    // back-off come back within seconds of it.
    void watchForReturn();
    void relayIsBack();

    SyncContext& m_context;
    const SyncOptions& m_options;
    QHash<QString, RelayLink*> m_links;
    QSet<QString> m_connectedPeerIds;
    RelayStateGate m_stateGate;
    RelayProbe* m_probe = nullptr;
    QUrl m_probeOrigin;
};
