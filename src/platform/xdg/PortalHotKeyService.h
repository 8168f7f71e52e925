#pragma once

#include "platform/HotKeyService.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QVariantMap>

class QDBusMessage;

// Global shortcuts through the desktop portal (org.freedesktop.portal.
// GlobalShortcuts), the way a Wayland client gets keys while another
// application has the keyboard. The desktop, not we, decides the keys in
// the end: ours go as preferred triggers, and it may ask the user first.
//
// Everything is asynchronous: registrations are collected and bound
// together once the current event is done. A session binds once, so a
// changed set closes it and binds the new set in a fresh session; an
// unchanged set (a reload of the same shortcuts) costs nothing. Until the
// portal has answered whether it offers the interface, the service counts
// as available; when it turns out not to, isAvailable() turns false. A
// portal that restarts, or turns up later, is asked again.
class PortalHotKeyService final : public QObject, public HotKeyService {
    Q_OBJECT
public:
    // Statuses given to onLost.
    enum Status { declined = 1, failed = 2, leftUnbound = 3 };

    explicit PortalHotKeyService(const QDBusConnection& bus, QObject* parent = nullptr);
    ~PortalHotKeyService() override;

    int registerHotKey(quint32 id, quint32 keyCode, quint32 modifiers) override;
    void unregisterHotKey(quint32 id) override;
    void describe(quint32 id, const QString& name, const QString& description) override;
    bool isAvailable() const override { return m_state != State::unavailable; }
    QString statusText(int status) const override;
    QString problem() const override { return m_problem; }

    // A key in the portal's trigger notation (the freedesktop shortcuts
    // convention): modifiers CTRL, ALT, SHIFT, LOGO, then the keysym name,
    // e.g. "CTRL+ALT+v". Empty for a keysym without a name.
    static QString trigger(quint32 keysym, quint32 modifiers);

private Q_SLOTS:
    void onActivated(const QDBusMessage& message);

private:
    enum class State { probing, ready, unavailable };
    struct Registration {
        QString name;
        QString description;
        QString trigger;
    };

    void probe();
    void ownerChanged(bool present);
    void giveUp(const QString& why);
    void scheduleSync();
    void sync();
    void closeSession();
    void bind(const QHash<QString, QString>& wanted);
    void bound(uint response, const QVariantMap& results, const QHash<QString, QString>& asked);
    void loseAll(const QHash<QString, QString>& asked, int status);
    // Shortcut name -> trigger for every live registration.
    QHash<QString, QString> wanted() const;

    QDBusConnection m_bus;
    State m_state = State::probing;
    QString m_problem;
    QHash<quint32, Registration> m_registrations;
    // The session and what it binds (name -> trigger asked for).
    QString m_session;
    QHash<QString, QString> m_bound;
    // A session is being made and bound; changes meanwhile wait for it.
    bool m_busy = false;
    bool m_syncScheduled = false;
    // Raised when the portal's owner changes; older answers are dropped.
    quint64 m_epoch = 0;
};
