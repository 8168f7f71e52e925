#pragma once

#include "platform/wayland/WindowTracker.h"
#include "platform/xdg/DesktopEntryIndex.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <functional>

class QDBusMessage;

// Our GNOME Shell extension, seen from here. GNOME lends ordinary programs
// no global shortcuts (before GNOME 48) and does not say which window is in
// front, so the extension does both inside the Shell: it binds keys for us
// and calls us when they are pressed, and tells us (and no one else) each
// time the focus moves. It takes calls only from the owner of our bus name,
// so everything goes over the connection that holds it, and starts over
// whenever that connection is made anew.
class GnomeShellExtension final : public QObject, public WindowTracker, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.tindrel.ShellExtension")
public:
    static constexpr auto uuid = u"tindrel@tindrel.io";
    // What the Shell says of the extension, and whether we can use it.
    enum class State { noBus, noShell, missing, disabled, failed, outdated, active };

    explicit GnomeShellExtension(QObject* parent = nullptr);
    ~GnomeShellExtension() override;

    // The connection that holds our bus name, `ourName`; again after each
    // reconnection.
    void useConnection(const QDBusConnection& bus, const QString& ourName);

    State state() const { return m_state; }
    // Usable: enabled, answering, and we hold our name (it takes calls only then).
    bool isActive() const { return m_state == State::active && m_named; }
    // Why it is not usable, in words for the log and the settings.
    QString problem() const;

    // Binds a GTK accelerator ("<Control><Alt>v") for `id`; `answered` gets
    // whether the Shell bound it. An empty accelerator releases the id.
    void grab(quint32 id, const QString& accelerator, std::function<void(bool)> answered);
    void ungrab(quint32 id);

    std::optional<FrontmostApp> frontmost() const override;
    bool activate(const FrontmostApp& app) override;

public Q_SLOTS:
    // From the extension; calls from anyone else are ignored.
    Q_SCRIPTABLE void ShortcutPressed(uint id);
    Q_SCRIPTABLE void FocusChanged(qulonglong window, const QString& desktopId,
                                   const QString& wmClass, const QString& wmInstance, uint pid,
                                   const QString& title, bool x11);

Q_SIGNALS:
    // isActive() or problem() changed; grabs made before are gone when the
    // extension went away, so an owner of them binds them again.
    void stateChanged();
    void pressed(quint32 id);
    // frontmost() may have changed.
    void frontChanged();

private Q_SLOTS:
    void onExtensionStateChanged(const QDBusMessage& message);
    void onNameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

private:
    bool fromShell() const;
    void refresh();
    void readVersion(quint64 epoch);
    void setState(State state);
    void lookUpOwner(const QString& name);

    QDBusConnection m_bus{QString()};
    QString m_ourName;
    QString m_shellOwner;
    bool m_named = false;
    State m_state = State::noBus;
    // Raised on every new connection and change of the Shell; older answers
    // are dropped.
    quint64 m_epoch = 0;
    // Raised on every new connection only.
    quint64 m_connections = 0;
    std::optional<FrontmostApp> m_front;
    DesktopEntryIndex m_entries;
};
