#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

// System-wide key grabs. Key codes and modifier masks are those of KeyCombo:
// the X11 keysym and the modifier bits Ctrl 256, Shift 512, Alt 2048, Super 4096.
class HotKeyService {
public:
    virtual ~HotKeyService() = default;

    // Grabs the key under the caller's id; returns 0 on success, else the
    // platform's error status (X error 10, BadAccess, when another client or
    // another of our own ids holds the same combination). A service that
    // asks the desktop asynchronously accepts here and reports a refusal
    // later through onLost.
    virtual int registerHotKey(quint32 id, quint32 keyCode, quint32 modifiers) = 0;
    virtual void unregisterHotKey(quint32 id) = 0;
    // What a registered shortcut does, for desktops that list shortcuts to
    // the user: `name` stays the same from one start to the next, so the
    // desktop can remember the user's choice of keys for it.
    virtual void describe(quint32 id, const QString& name, const QString& description) {
        Q_UNUSED(id);
        Q_UNUSED(name);
        Q_UNUSED(description);
    }
    // False when this session gives us no way to set global shortcuts: the
    // user binds our command line in the desktop's own keyboard settings.
    virtual bool isAvailable() const { return true; }
    // Why it is not available, in words for the log.
    virtual QString problem() const { return {}; }
    // A status from registerHotKey or onLost in words, for the log.
    virtual QString statusText(int status) const {
        using namespace Qt::StringLiterals;
        return u"X error "_s + QString::number(status);
    }

    // Called on the main thread for every press of a registered key.
    std::function<void(quint32 id)> onPressed;
    // Called when a registration that held had to be given up later (the
    // keyboard layout changed and the new grab was refused), with the status.
    std::function<void(quint32 id, int status)> onLost;
    // Called when the desktop's own shortcut settings gave a registered
    // shortcut other keys (keyCode 0: none): the user chose them there.
    std::function<void(quint32 id, quint32 keyCode, quint32 modifiers)> onRebound;
    // Called when isAvailable() changed.
    std::function<void()> onAvailabilityChanged;
};
