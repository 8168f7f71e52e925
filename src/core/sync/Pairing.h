#pragma once

#include "core/sync/LanLinkProvider.h"
#include "core/sync/PairingLink.h"
#include "core/sync/RelayLink.h"
#include "core/sync/SyncContext.h"
#include "core/sync/SyncOptions.h"
#include "core/sync/SyncPayload.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

// Pairing two devices: as host, a window with a short code that a joiner
// types (or a link it pastes); as joiner, requests to every device that may
// hold the code's window, on the local network and in the code's relay room.
// Both sides hand over their device keys sealed with the code's key; the
// first answer pairs and ends the rest.
class Pairing : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype maxRefusalLength = 200;

    Pairing(SyncContext& context, LanLinkProvider& lan, const SyncOptions& options,
            QObject* parent = nullptr);
    ~Pairing() override;

    // Empty while no window is open.
    QString code() const { return m_code; }
    // The window's key once derived; empty otherwise.
    QByteArray key() const { return m_code.isEmpty() ? QByteArray() : m_key; }
    QDateTime expiry() const { return m_expiry; }
    bool isPreparing() const { return m_preparing; }
    std::optional<QString> url() const;
    int pendingJoins() const;

    void start(std::chrono::seconds duration);
    void end();
    void join(const QString& codeOrLink);
    // Sync stopped: the window closes and requests still waiting are dropped.
    void stop();
    // A pair message on a pairing connection.
    void receive(SyncConnection* connection, const SyncMessage& message);
    // Devices found while a typed code waits are asked too.
    void dialNewlyFound();
    // One of our requests on the network ended without an answer.
    void reportUnansweredJoin();

Q_SIGNALS:
    void codeChanged();
    void expiryChanged();
    void isPreparingChanged();
    void joinFinished(const QString& outcome, bool sent);
    void joinEnded(const QString& outcome, bool paired);
    void joinRefused(const QString& outcome);
    // The new device is in the store.
    void stored(const SyncDevice& device);
    void paired(const SyncDevice& device);
    // The window and the join are over; the new device may now be reached.
    void settled(const SyncDevice& device);

private:
    void open(const QString& code, const QByteArray& key, std::chrono::seconds duration);
    void setPreparing(bool preparing);
    void sendRequests(const QByteArray& key, const std::optional<PairingLink::Target>& target);
    void finishJoin(const QString& outcome, bool sent);
    void startRelay();
    int dialUnpaired(const QByteArray& key);
    void dial(const SyncEndpoint& endpoint, const std::optional<QString>& peerId,
              const QByteArray& key);
    void joinOverRelay(const QString& relayURL, const QByteArray& key);
    void dropJoinRelay(bool afterSending);
    void endJoin(const SyncDevice& device);
    void take(const SyncMessage& message, const std::function<void(const SyncMessage&)>& reply);
    std::optional<SyncDevice> accept(const SyncPair& message,
                                     const std::function<void(const SyncMessage&)>& reply);
    SyncMessage request() const;

    SyncContext& m_context;
    LanLinkProvider& m_lan;
    const SyncOptions& m_options;

    QString m_code;
    QDateTime m_expiry;
    // Derived once per window: every inbound connection tries it.
    QByteArray m_key;
    QTimer m_timer;
    // Raised by every start and end of a window, so that a key derived for a
    // window that was cancelled or replaced meanwhile is thrown away.
    quint64 m_attempt = 0;
    // Raised by every stop, so that a join's key derived before it is dropped.
    quint64 m_generation = 0;
    bool m_preparing = false;
    RelayLink* m_relayLink = nullptr;
    // The join's relay room, waited on until the host answers.
    RelayLink* m_joinRelayLink = nullptr;
    // The join whose requests are out, until it pairs or nobody answers.
    struct Join {
        bool active = false;
        // A typed code: devices found while it waits are asked too.
        QByteArray codeKey;
        QSet<QString> dialled;
        bool triedNetwork = false;
        bool triedRelay = false;
        bool reachedRelay = false;
    };
    Join m_join;
};
