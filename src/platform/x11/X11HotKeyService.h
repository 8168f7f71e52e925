#pragma once

#include "platform/HotKeyService.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <xcb/xcb.h>

class XcbConnection;
class XcbKeyboard;

// Global shortcuts as passive key grabs on the root window. Each combination
// is grabbed with every Lock/NumLock state, so CapsLock or NumLock being on
// does not disable it. When the key mapping changes, everything is grabbed
// again, since key codes and modifier bits may have moved.
class X11HotKeyService final : public QObject, public HotKeyService {
    Q_OBJECT
public:
    X11HotKeyService(XcbConnection& connection, XcbKeyboard& keyboard, QObject* parent = nullptr);
    ~X11HotKeyService() override;

    int registerHotKey(quint32 id, quint32 keyCode, quint32 modifiers) override;
    void unregisterHotKey(quint32 id) override;

private:
    struct Registration {
        quint32 keysym = 0;
        quint32 comboModifiers = 0;
        quint16 mask = 0;
        QList<xcb_keycode_t> keycodes;
    };

    // Finds the key codes and modifier mask for the current mapping.
    void resolve(Registration& registration) const;
    // Whether a registration under another id has the same key and modifiers.
    bool heldByAnother(const Registration& registration, quint32 id) const;
    int grab(Registration& registration);
    void ungrab(const Registration& registration);
    QList<quint16> lockVariants() const;
    void regrabAll();
    void handleEvent(const xcb_generic_event_t& event);

    XcbConnection& m_conn;
    XcbKeyboard& m_keyboard;
    QHash<quint32, Registration> m_registrations;
    // Auto-repeat arrives as release + press with one time stamp; only the
    // first press of a held key counts.
    xcb_keycode_t m_lastReleaseCode = 0;
    xcb_timestamp_t m_lastReleaseTime = 0;
};
