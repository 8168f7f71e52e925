#pragma once

#include "platform/wayland/WindowTracker.h"
#include "platform/xdg/DesktopEntryIndex.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QHash>
#include <QObject>
#include <QTemporaryFile>
#include <memory>

// The active window as KWin (KDE Plasma) reports it. KWin says so to no
// client over Wayland, but it runs scripts it is handed over D-Bus: ours
// calls us back on every activation. Loaded in the background and unloaded
// when we go; until KWin has run it, the window in front is unknown.
class KWinWindowTracker final : public QObject, public WindowTracker, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.tindrel.WindowInFront")
public:
    // None outside a KDE session, or when `bus` is not connected.
    static std::unique_ptr<KWinWindowTracker> connect(QDBusConnection bus);
    ~KWinWindowTracker() override;

    std::optional<FrontmostApp> frontmost() const override { return m_front; }
    // Through a script of its own, as KWin takes no such request over D-Bus:
    // a window it reported, or one of ours by its X11 id.
    bool activate(const FrontmostApp& app) override;

    // The script KWin runs, calling back to the bus name `service`.
    static QByteArray script(const QString& service);
    // The script that brings the window KWin knows as `window` (its
    // internal id or X11 window id) to the front; empty for anything else.
    static QByteArray activationScript(const QString& window);

public Q_SLOTS:
    // From our script in KWin; calls from anyone else are ignored. All
    // arguments are text: script numbers would not match a D-Bus integer.
    Q_SCRIPTABLE void activated(const QString& windowId, const QString& pid,
                                const QString& desktopFile, const QString& resourceClass,
                                const QString& resourceName, const QString& caption);
    Q_SCRIPTABLE void deactivated();

Q_SIGNALS:
    // frontmost() may have changed.
    void frontChanged();

private:
    explicit KWinWindowTracker(QDBusConnection bus);
    bool fromKWin() const;
    void load();
    void askToLoad(bool firstTime);

    QDBusConnection m_bus;
    QTemporaryFile m_script;
    QTemporaryFile m_activation;
    // The name KWin holds our last activation script under, if any.
    QString m_activationPlugin;
    int m_activations = 0;
    // KWin's ids of the windows reported, by the number they were given.
    QHash<quint64, QString> m_windowIds;
    // KWin's unique bus name, once it has answered.
    QString m_kwin;
    std::optional<FrontmostApp> m_front;
    DesktopEntryIndex m_entries;
};
