#pragma once

#include "platform/KeySynth.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <optional>
#include <utility>

class SettingsStore;

// Key presses through the desktop portal's remote control
// (org.freedesktop.portal.RemoteDesktop), the way a Wayland client types into
// other applications where the compositor lends no virtual keyboard (KWin).
// The desktop may ask the user before it lets us, so we ask only when a
// paste first needs it; the chord waiting then is pressed once allowed.
// Where the portal can remember the answer (version 2 and later) its token is
// kept in the settings, and the next run starts the session at once, without
// a question; a version 1 portal (Debian 12's, under GNOME and Plasma alike)
// asks at each run, which the log says once. Everything is asynchronous; a session the desktop
// ends (the user revoked it) is asked for again at the next paste.
class PortalRemoteDesktop final : public QObject, public KeySynth {
    Q_OBJECT
public:
    // `settings` (may be null) keeps the portal's restore token.
    PortalRemoteDesktop(const QDBusConnection& bus, SettingsStore* settings,
                        QObject* parent = nullptr);
    ~PortalRemoteDesktop() override;

    // Nobody may see the keyboard of another application's window; the
    // router asks XWayland instead.
    bool modifiersHeld() override { return false; }
    // Presses the chord now when the session runs; otherwise asks the
    // desktop (once) and presses it when allowed, returning false.
    bool sendChord(PasteChord chord) override;
    PastePermission permission() const override { return m_permission; }
    // Opens the desktop's question now, unless the grant is there or the
    // question already open.
    bool askAgain() override;

    // Whether the desktop keeps its grant for the next run (it gave a token).
    bool keepsGrant() const { return m_keepsGrant; }

    // Why the desktop cannot be asked, when it cannot.
    const QString& problem() const { return m_problem; }

    static inline const QString restoreTokenKey = QStringLiteral("remoteDesktopRestoreToken");

Q_SIGNALS:
    void permissionChanged();

private Q_SLOTS:
    void onSessionClosed(const QDBusMessage& message);

private:
    void ask();
    void createSession();
    void selectDevices();
    void startSession();
    void started(uint response, const QVariantMap& results);
    void fail(const QString& why);
    void setPermission(PastePermission permission);
    void press(PasteChord chord);
    void key(quint32 keysym, bool pressed);
    void sendNextKey();
    void closeSession();

    QDBusConnection m_bus;
    SettingsStore* m_settings;
    PastePermission m_permission = PastePermission::notAsked;
    QString m_problem;
    uint m_version = 0;
    bool m_keepsGrant = false;
    bool m_saidForgets = false;
    QString m_session;
    // The chord a paste asked for while the desktop was being asked.
    std::optional<PasteChord> m_waiting;
    // Keys not yet sent (keysym, pressed), and whether one awaits its answer.
    QList<std::pair<quint32, bool>> m_keys;
    bool m_keyInFlight = false;
    // Raised when a session ends, so answers for an older one are dropped.
    quint64 m_epoch = 0;
};
