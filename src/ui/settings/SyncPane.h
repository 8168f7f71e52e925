#pragma once

#include "core/sync/SyncDevice.h"
#include "core/util/Instant.h"

#include <QDateTime>
#include <QList>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <optional>

class Clock;
class FileManager;
class Hint;
class PairingBox;
class PaneForm;
class Preferences;
class QFormLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class ServiceDiscovery;
class SyncIdentity;
class SyncDeviceList;
class SyncService;
class Workspace;

// Everything about sync in one pane: switching it on, naming this device,
// the paired devices with pause and unpair, opening a pairing window (code,
// countdown, QR code and link) or joining another computer's, the relay,
// what gets synced, and how the service is doing. It keeps no sync state of
// its own: every redraw reads the preferences and the service, and a
// one-second tick keeps the countdown and "Last seen" texts current.
class SyncPane : public QWidget {
    Q_OBJECT
public:
    struct Parts {
        Preferences& prefs;
        SyncService& sync;
        SyncIdentity& identity;
        ServiceDiscovery& discovery;
        Workspace& workspace; // opens the log
        FileManager& files;   // reveals the log
        const Clock& clock;   // for "Last seen"
        QString logPath;
    };

    static constexpr std::chrono::seconds pairingDuration{180};

    explicit SyncPane(Parts parts, QWidget* parent = nullptr);

    // The user's yes before a device is unpaired; a dialog by default.
    std::function<bool(const SyncDevice&)> confirmUnpair;
    // The time the countdown counts from; the system's by default.
    std::function<QDateTime()> now;

    // Redraws from the preferences and the service; the tick calls it.
    void refresh();
    void startPairing();
    void join();
    // Stores the typed name; on Return even an empty one is offered (and
    // refused by the identity), on leaving only a changed, non-empty one.
    void commitDeviceName(bool pressedReturn);

    // The texts of the pane, by the rules they follow.
    static QString statusText(bool running, qsizetype connected, bool hasPeers);
    static QString countdown(const QDateTime& now, const QDateTime& expiry);
    static QString subtitle(const SyncDevice& device, bool connected, Instant now);
    static QString relayStatus(qsizetype relayConnected, const QString& relayURL);
    static QString unpairedNearby(int count);
    static QString iconName(const SyncDevice& device);
    // Whether the join field holds something worth sending: a code of
    // nine characters once normalised, or a pasted link.
    static bool canJoin(const QString& typed);
    // Nothing when the relay address is usable (or empty), else the line
    // that says what is wrong with it.
    static std::optional<QString> relayProblem(const QString& relayURL);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildTop(PaneForm& form);
    void buildRelay(PaneForm& form);
    void buildWhat(PaneForm& form);
    void buildEvents(PaneForm& form);
    bool askUnpair(const SyncDevice& device);
    void showRelay();
    void showStatus();
    void applySyncEnabled();

    Parts m_parts;
    QTimer m_tick;

    QFormLayout* m_topForm;
    Hint* m_intro;
    QLineEdit* m_name;
    QLabel* m_localNetwork;
    Hint* m_localNetworkHint;
    QWidget* m_statusRow;
    QLabel* m_statusDot;
    QLabel* m_status;
    QLabel* m_listening;
    QList<QGroupBox*> m_whileEnabled;

    QLabel* m_noDevices;
    SyncDeviceList* m_devices;
    PairingBox* m_pairingBox;

    QLineEdit* m_relayURL;
    Hint* m_relayProblem;
    QLabel* m_relayDot;
    QLabel* m_relayStatus;

    QGroupBox* m_eventBox;
    QLabel* m_lastEvent;
};
