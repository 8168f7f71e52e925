#pragma once

#include <QtGlobal>
#include <functional>

// System-wide key grabs. Key codes and modifier masks are those of KeyCombo:
// the X11 keysym and the modifier bits Ctrl 256, Shift 512, Alt 2048, Super 4096.
class HotKeyService {
public:
    virtual ~HotKeyService() = default;

    // Grabs the key under the caller's id; returns 0 on success, else the
    // platform's error status (X error 10, BadAccess, when another client or
    // another of our own ids holds the same combination).
    virtual int registerHotKey(quint32 id, quint32 keyCode, quint32 modifiers) = 0;
    virtual void unregisterHotKey(quint32 id) = 0;

    // Called on the main thread for every press of a registered key.
    std::function<void(quint32 id)> onPressed;
    // Called when a registration that held had to be given up later (the
    // keyboard layout changed and the new grab was refused), with the status.
    std::function<void(quint32 id, int status)> onLost;
};
