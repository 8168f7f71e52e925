#pragma once

#include "platform/x11/XcbConnection.h"

#include <QList>
#include <QObject>
#include <QSet>

struct _XCBKeySymbols;

// The server's keyboard mapping as grabs and synthesis need it: which key
// codes produce a keysym, which modifier bit Alt, Super and NumLock sit on,
// and which keys are modifiers. Follows mapping changes (MappingNotify).
class XcbKeyboard final : public QObject {
    Q_OBJECT
public:
    explicit XcbKeyboard(XcbConnection& connection, QObject* parent = nullptr);
    ~XcbKeyboard() override;

    QList<xcb_keycode_t> keycodes(quint32 keysym) const;
    // The keysym of a key without Shift or any other level (what is printed
    // on it, "1" rather than "!"); 0 when the key has none.
    quint32 baseKeysym(xcb_keycode_t keycode) const;
    // X modifier mask for the KeyCombo bits (Ctrl 256, Shift 512, Alt 2048, Super 4096).
    quint16 modifierMask(quint32 comboModifiers) const;
    quint16 numLockMask() const { return m_numLockMask; }
    // Whether any key bound to a modifier is down, by the server's key map.
    bool anyModifierKeyDown();

Q_SIGNALS:
    // The key or modifier mapping changed; grabs must be made again.
    void mappingChanged();

private:
    void load();

    XcbConnection& m_conn;
    _XCBKeySymbols* m_symbols = nullptr;
    QSet<xcb_keycode_t> m_modifierKeys;
    quint16 m_altMask = XCB_MOD_MASK_1;
    quint16 m_superMask = XCB_MOD_MASK_4;
    quint16 m_numLockMask = XCB_MOD_MASK_2;
};
