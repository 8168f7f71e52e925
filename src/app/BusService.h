#pragma once

#include "app/BusLink.h"

#include <QDBusContext>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <optional>

class ClipStore;
class ClipboardMonitor;
class Preferences;
class SyncService;
struct SyncDevice;

// The running program's session-bus interface (io.tindrel.Tindrel): the
// panel, pausing, the settings window, the clips and sync (pairing and the
// paired devices), for scripts, desktop key bindings and the `tindrel`
// command line. Every argument is checked;
// a call that fails answers with a D-Bus error and changes nothing.
class BusService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.tindrel.Tindrel")
    Q_PROPERTY(bool Paused READ paused WRITE setPaused)
    Q_PROPERTY(uint ClipCount READ clipCount)

public:
    static constexpr auto serviceName = "io.tindrel.Tindrel";
    static constexpr auto objectPath = "/io/tindrel/Tindrel";
    static constexpr auto interfaceName = "io.tindrel.Tindrel";

    // What the rest of the program does for the panel and settings calls.
    struct Actions {
        std::function<void()> showPanel;
        std::function<void()> hidePanel;
        std::function<void()> togglePanel;
        // An empty tab name leaves the window on its current tab.
        std::function<void(const QString& tab)> openSettings;
        // Takes a text as a copy made here: the path every local copy takes.
        std::function<void(const QString& text)> recordCopy;
        std::function<void()> quit;
    };

    BusService(ClipStore& store, Preferences& prefs, ClipboardMonitor& monitor, SyncService& sync,
               Actions actions, QObject* parent = nullptr);

    // Exports the object and asks for the bus name on the session bus, and
    // does so again whenever the bus drops us; logs why when there is no bus.
    void publish();
    // The connection answers and announcements go out on.
    QDBusConnection connection() const { return m_link.connection(); }

    bool paused() const;
    void setPaused(bool paused);
    uint clipCount() const;

    // No answer of ours may be larger: the bus drops a connection that sends
    // more than its max_message_size, and with it our name, so that every
    // command after it finds no Tindrel. dbus-daemon allows 128 MiB on the
    // session bus, but 32 MiB where its configuration says nothing and less
    // on some systems; 4 MiB stays far below all of these (the sizes are
    // reckoned from the texts, so their overhead needs room too) and still
    // carries a few thousand ordinary clips per page.
    static constexpr qsizetype replyBudget = qsizetype(4) * 1024 * 1024;
    // A page gives at most this many UTF-16 code units of each text, so a
    // few huge clips cannot crowd the rest out; Text gives the rest.
    static constexpr qsizetype pageTextLength = 65536;
    // A pairing window asked for over the bus lasts this long at most.
    static constexpr uint maxPairingSeconds = 3600;

Q_SIGNALS:
    // A new connection to the session bus holds our object and has asked
    // for our name (not exported).
    void connected(const QDBusConnection& connection);

public Q_SLOTS:
    void ShowPanel();
    void HidePanel();
    void TogglePanel();
    void Pause();
    void Resume();
    void TogglePause();
    void Quit();
    void OpenSettings(const QString& tab);
    QList<QVariantMap> List(bool pinnedOnly);
    QList<QVariantMap> ListPage(bool pinnedOnly, uint first, uint& total, uint& revision);
    QString Text(const QString& id, uint offset, uint& next);
    void Copy(const QString& id);
    void CopyAt(uint position);
    QString Add(const QString& text);
    void Pin(const QString& id);
    void PinAt(uint position);
    void Unpin(const QString& id);
    void UnpinAt(uint position);
    void Delete(const QString& id);
    void DeleteAt(uint position);
    void ClearHistory();

    QVariantMap SyncStatus();
    QVariantMap StartPairing(uint seconds);
    void EndPairing();
    QString JoinPairing(const QString& codeOrLink);
    QList<QVariantMap> SyncDevices();
    void PauseDevice(const QString& device);
    void ResumeDevice(const QString& device);
    void UnpairDevice(const QString& device);

private:
    struct Found;
    // The clip with this id, or a D-Bus error sent and nothing found.
    Found find(const QString& id);
    // The clip at this position of the list (pins first), or an error sent
    // and nothing found.
    Found at(uint position);
    void copy(const Found& found);
    void pin(const Found& found);
    void unpin(const Found& found);
    void remove(const Found& found);
    // Answer the calls waiting for a pairing window, for a join's requests,
    // or for anything when sync stops.
    void answerPairings();
    void answerJoin(const QString& outcome, bool sent);
    void answerAllStopped();
    // False, with a D-Bus error sent, while sync is not running.
    bool syncRuns();
    // The paired device with this id, or else this name; or an error sent.
    std::optional<SyncDevice> device(const QString& idOrName);
    void fail(const char* error, const QString& message);
    void announce(const char* property, const QVariant& value);

    ClipStore& m_store;
    Preferences& m_prefs;
    ClipboardMonitor& m_monitor;
    SyncService& m_sync;
    Actions m_actions;
    BusLink m_link;
    uint m_announcedCount = 0;
    // Counts changes to the clips, so that a client reading pages can tell
    // that the list moved under it.
    uint m_revision = 0;
    // Pairings since launch, so that a client can tell that one happened
    // even when the device was paired before.
    uint m_pairings = 0;
    QString m_lastPaired;
    QList<QDBusMessage> m_waitingPairings;
    struct WaitingJoin {
        QDBusMessage call;
        bool badLink = false;
    };
    // First come, first answered: two joins at once may swap their lines,
    // which read alike.
    QList<WaitingJoin> m_waitingJoins;
};
