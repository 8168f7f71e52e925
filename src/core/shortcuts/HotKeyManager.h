#pragma once

#include "core/shortcuts/KeyCombo.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <optional>

class HotKeyService;
class Preferences;

// The global shortcuts: registers the ones the preferences ask for with the
// desktop's hot-key service and reports presses as actions on the main
// thread. Shortcuts the desktop refuses are logged and skipped; a session
// without any way to set them says so once in the log.
class HotKeyManager : public QObject {
    Q_OBJECT
public:
    struct Action {
        enum class Kind { pastePinned, openPanel, togglePause };
        Kind kind = Kind::openPanel;
        int index = 0; // the pinned position 0...9, for pastePinned

        static Action openPanel() { return {Kind::openPanel, 0}; }
        static Action togglePause() { return {Kind::togglePause, 0}; }
        static Action pastePinned(int index) { return {Kind::pastePinned, index}; }
        friend bool operator==(const Action&, const Action&) = default;
    };

    // The service must outlive the manager.
    explicit HotKeyManager(HotKeyService& service, QObject* parent = nullptr);
    ~HotKeyManager() override;

    // Drops every registration and registers what the preferences ask for
    // (nothing while suspended). The preferences must outlive the manager:
    // they are read again when the desktop's shortcuts come back, and
    // written when the desktop's own settings give a shortcut other keys.
    void reload(Preferences& prefs);
    void unregisterAll();

    bool suspended() const { return m_suspended; }
    void setSuspended(bool suspended) { m_suspended = suspended; }
    // While a shortcut is being recorded nothing is registered, so the keys
    // reach the recorder instead of firing.
    void beginRecording();
    void endRecording(Preferences& prefs);
    // Whether another program holds the combo: none when it is free (or held
    // by us), else the text to show under the shortcut. Our own shortcuts are
    // released for the check and registered again afterwards.
    std::optional<QString> conflictMessage(const KeyCombo& combo, Preferences& prefs);

    // The ids of the live registrations, in no particular order.
    QList<quint32> registeredIds() const { return m_registrations.keys(); }
    // False when the session lets us set no global shortcut at all.
    bool isAvailable() const;
    // Why not, in words for the settings (may be empty).
    QString problem() const;
    // Why the action's shortcut, asked for since the last reload, is not
    // bound ("Ctrl+Alt+V is not bound: ..."); none while it is, or may be.
    std::optional<QString> refusal(const Action& action) const;

Q_SIGNALS:
    // A registered shortcut was pressed.
    void triggered(HotKeyManager::Action action);
    void availabilityChanged();
    // What refusal() says changed.
    void refusalsChanged();

private:
    struct Registration {
        KeyCombo combo;
        Action action;
    };
    void registerCombo(const KeyCombo& combo, Action action);
    void dispatch(quint32 id);
    void refuse(const Registration& registration, int status);
    // Makes the desktop's new keys for a registration our preference.
    void follow(quint32 id, const std::optional<KeyCombo>& combo);
    void logRefusal(const KeyCombo& combo, int status) const;
    void logUnavailable() const;

    HotKeyService& m_service;
    QHash<quint32, Registration> m_registrations;
    quint32 m_nextId = 1; // only grows: an id is never handed out twice
    bool m_suspended = false;
    Preferences* m_prefs = nullptr; // as last reloaded
    QList<std::pair<Action, QString>> m_refusals;
};
