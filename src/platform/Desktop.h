#pragma once

#include "platform/HotKeyService.h"
#include "platform/Workspace.h"

#include <QString>
#include <QtGlobal>

class KeySynth;
class Pasteboard;
class QDBusConnection;
class PointerWatcher;
class WindowHints;

// Everything the program needs from the desktop it runs on, assembled once
// at start for that desktop (X11, wlroots, KDE Plasma, a generic Wayland
// session) from the parts it really offers, and what it cannot do and why.
class Desktop {
public:
    // One thing the desktop may or may not give us; `why` says, in words for
    // the log and the settings, why not (empty when it does).
    struct Capability {
        bool given = false;
        QString why;
    };
    struct Capabilities {
        // Global shortcuts can be bound at all (each key may still be refused).
        Capability shortcuts;
        // A chosen clip can be pasted into the window in front.
        Capability paste;
        // The application in front can be named (ignored apps, paste-back).
        Capability frontmost;
    };

    virtual ~Desktop() = default;

    // The desktop's name for the log: "X11", "wlroots", "KDE Plasma", "Wayland".
    virtual QString name() const = 0;
    // Which part comes from where, for the one log line at start.
    virtual QString description() const = 0;

    virtual Pasteboard& pasteboard() = 0;
    virtual Workspace& workspace() = 0;
    virtual KeySynth& keySynth() = 0;
    virtual HotKeyService& hotKeys() = 0;
    virtual PointerWatcher& pointer() = 0;
    virtual WindowHints& windowHints() = 0;
    // The keysym printed on the key with this native key code, whatever
    // Shift makes of it; 0 when the desktop's keyboard is not known to us.
    virtual quint32 baseKeysym(quint32 keycode) const {
        Q_UNUSED(keycode);
        return 0;
    }
    virtual bool knowsBaseKeysyms() const { return false; }

    // What it can do right now (shortcuts may come and go with the portal).
    virtual Capabilities capabilities() = 0;

    // Whether the desktop itself shows an icon of ours with our menu (a
    // Shell extension of ours, say), tray or no tray.
    virtual bool showsOurIcon() const { return false; }

    // The session-bus connection that holds our name `ourName`, each time it
    // is made: where a desktop's helper that takes calls only from us, and
    // calls us back, reaches us.
    virtual void useBusConnection(const QDBusConnection& bus, const QString& ourName) {
        Q_UNUSED(bus);
        Q_UNUSED(ourName);
    }

protected:
    // What the parts themselves say, with the assembly's words for why it
    // cannot paste or name the app in front when it cannot.
    Capabilities capabilitiesOfParts(const QString& noPaste, const QString& noFrontmost) {
        Capabilities can;
        can.shortcuts = {hotKeys().isAvailable(), hotKeys().problem()};
        can.paste = {workspace().isTrusted(), workspace().isTrusted() ? QString() : noPaste};
        can.frontmost = {workspace().seesFrontmost(),
                         workspace().seesFrontmost() ? QString() : noFrontmost};
        return can;
    }
};
