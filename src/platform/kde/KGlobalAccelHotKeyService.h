#pragma once

#include "platform/HotKeyService.h"
#include "platform/kde/KdeKeyCodes.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <memory>

class QDBusMessage;

// Global shortcuts through KDE's own shortcut service (org.kde.kglobalaccel,
// inside KWin on Plasma), the way KDE's programs register theirs: one
// component, "Tindrel", with an action per shortcut under a name that stays
// the same from start to start. They show in System Settings › Shortcuts,
// where the user may give them other keys; such a change reaches us as
// onRebound.
//
// Everything is asynchronous: registrations are collected and sent together
// once the current event is done. The first time, the service keeps what
// it remembers for an action (the user's choice made while we were not
// running), after that our keys are what counts. An action whose keys the
// service would not set (another program holds them) is reported through
// onLost. Actions dropped or left behind at exit are set inactive, not
// forgotten, so System Settings keeps listing them with their keys.
class KGlobalAccelHotKeyService final : public QObject, public HotKeyService {
    Q_OBJECT
public:
    // Statuses given to onLost and returned by registerHotKey.
    enum Status { taken = 1, failed = 2, noKeyCode = 3 };

    static constexpr const char16_t* component = u"io.tindrel.Tindrel";

    // The service when kglobalaccel runs on the bus or the bus can start it,
    // else null and, in `why`, the reason.
    static std::unique_ptr<KGlobalAccelHotKeyService> connect(const QDBusConnection& bus,
                                                              QString* why = nullptr);

    KGlobalAccelHotKeyService(const QDBusConnection& bus, const QString& layout,
                              QObject* parent = nullptr);
    ~KGlobalAccelHotKeyService() override;

    int registerHotKey(quint32 id, quint32 keyCode, quint32 modifiers) override;
    void unregisterHotKey(quint32 id) override;
    void describe(quint32 id, const QString& name, const QString& description) override;
    QString statusText(int status) const override;

private Q_SLOTS:
    void onPressedSignal(const QDBusMessage& message);
    void onChangedSignal(const QDBusMessage& message);

private:
    struct Registration {
        QString name;
        QString description;
        int key = 0; // Qt key code
    };
    // What the desktop has for one of our actions, as far as we know.
    struct Remote {
        int key = 0;          // 0: no key
        bool active = false;  // set present by us
        bool pending = false; // a setShortcut for it is on its way
    };

    void scheduleSync();
    void sync();
    void send(const QString& name, const QString& description, int key, bool keepRemembered);
    void answered(const QString& name, int asked, bool keepRemembered, const QList<int>& keys);
    // Hands the desktop's key for a live registration on as onRebound.
    void follow(quint32 id, int key);
    QStringList actionId(const QString& name, const QString& description = {}) const;
    // The live registration with that action name, 0 when none.
    quint32 idOf(const QString& name) const;

    QDBusConnection m_bus;
    KdeKeyCodes m_keys;
    QHash<quint32, Registration> m_registrations;
    QHash<QString, Remote> m_remote;
    bool m_syncScheduled = false;
    bool m_firstSync = true;
    // Raised when kglobalaccel's owner changes; older answers are dropped.
    quint64 m_epoch = 0;
};
