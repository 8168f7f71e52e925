#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

class ClipStore;
class ClipboardMonitor;
class Preferences;

// The running program's session-bus interface (io.tindrel.Tindrel): the
// panel, pausing, the settings window and the clips, for scripts, desktop
// key bindings and the `tindrel` command line. Every argument is checked;
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
    };

    BusService(ClipStore& store, Preferences& prefs, ClipboardMonitor& monitor, Actions actions,
               QObject* parent = nullptr);

    // Exports the object and asks for the bus name on the session bus; logs
    // why when there is no bus or another process has the name.
    void publish();

    bool paused() const;
    void setPaused(bool paused);
    uint clipCount() const;

    // The longest text Add accepts when no capture limit is set: the largest
    // limit the settings allow.
    static constexpr int maxAddedLength = 1000000;

public Q_SLOTS:
    void ShowPanel();
    void HidePanel();
    void TogglePanel();
    void Pause();
    void Resume();
    void TogglePause();
    void OpenSettings(const QString& tab);
    QList<QVariantMap> List(bool pinnedOnly);
    void Copy(const QString& id);
    void CopyAt(uint position);
    QString Add(const QString& text);
    void Pin(const QString& id);
    void Unpin(const QString& id);
    void Delete(const QString& id);
    void ClearHistory();

private:
    struct Found;
    // The clip with this id, or a D-Bus error sent and nothing found.
    Found find(const QString& id);
    void copy(const Found& found);
    void fail(const char* error, const QString& message);
    void announce(const char* property, const QVariant& value);

    ClipStore& m_store;
    Preferences& m_prefs;
    ClipboardMonitor& m_monitor;
    Actions m_actions;
    uint m_announcedCount = 0;
};
