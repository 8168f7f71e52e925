#pragma once

#include "core/shortcuts/Keysyms.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QString>
#include <Qt>
#include <array>
#include <functional>
#include <optional>

class QKeyEvent;

// One keyboard shortcut: an X11 keysym plus a modifier mask. The mask keeps
// the bit layout and JSON key shared with devices on other platforms, so the
// stored value stays portable; on Linux the bits mean Ctrl, Shift, Alt, Super.
struct KeyCombo {
    quint32 keyCode = 0;         // X11 keysym; letters use the lower-case keysym
    quint32 carbonModifiers = 0; // a combination of the bits below

    // The stored bits, which other platforms call Command (256), Shift (512),
    // Option (2048) and Control (4096).
    static constexpr quint32 Ctrl = 256;
    static constexpr quint32 Shift = 512;
    static constexpr quint32 Alt = 2048;
    static constexpr quint32 Super = 4096;
    static constexpr quint32 AllModifiers = Ctrl | Shift | Alt | Super;

    // The keys of the main number row in the order 1, 2, ..., 9, 0; position i
    // stands for pinned clip i.
    static constexpr std::array<quint32, 10> numberRow = {0x31, 0x32, 0x33, 0x34, 0x35,
                                                          0x36, 0x37, 0x38, 0x39, 0x30};

    // Ctrl+Alt+V: Ctrl+Shift+V would steal the paste chord of every terminal.
    static constexpr KeyCombo defaultOpenPanel() { return KeyCombo{Keysym::LowerV, Ctrl | Alt}; }

    // F1 to F15 may be used without a modifier.
    static bool isFunctionKey(quint32 keysym);

    // The keysym X grabs for a Qt key (the unshifted letter), or 0 for keys
    // that cannot be a shortcut on their own, such as the modifiers.
    static quint32 keysymForQtKey(int qtKey, Qt::KeyboardModifiers modifiers = {});
    static quint32 maskFromQt(Qt::KeyboardModifiers modifiers);

    // A combo from a pressed key, or nothing when it needs Ctrl, Alt or Super
    // (Shift alone is not enough) and is not a function key F1 to F15.
    static std::optional<KeyCombo> fromKey(int qtKey, Qt::KeyboardModifiers modifiers);
    // The keysym printed on the key with a given native scan code, whatever
    // Shift makes of it (the display's keyboard knows); 0 when unknown.
    using BaseKeysym = std::function<quint32(quint32 nativeScanCode)>;
    // As fromKey; with Shift held, the key is named by `baseKeysym` when it
    // knows it, so Ctrl+Shift+1 is recorded as that and not as Ctrl+Shift+!.
    static std::optional<KeyCombo> fromEvent(const QKeyEvent& event,
                                             const BaseKeysym& baseKeysym = {});

    // "Ctrl+Alt+Shift+Super+" in that fixed order, for the bits present.
    static QString modifierSymbols(quint32 mask);
    QString modifierSymbols() const { return modifierSymbols(carbonModifiers); }
    // The key as printed on it ("V", "Space", "PgUp", "F5"), or "Key " and the
    // keysym in decimal for keys without a name.
    QString keyLabel() const;
    QString displayString() const { return modifierSymbols() + keyLabel(); }

    // {"keyCode":118,"carbonModifiers":2304}
    QByteArray encode() const;
    // Both keys must be present and hold a non-zero keysym and a mask of known
    // bits; anything else counts as no shortcut.
    static std::optional<KeyCombo> decode(const QByteArray& json);

    friend constexpr bool operator==(const KeyCombo&, const KeyCombo&) = default;
};

inline size_t qHash(const KeyCombo& combo, size_t seed = 0) noexcept {
    return qHashMulti(seed, combo.keyCode, combo.carbonModifiers);
}

template <> struct std::hash<KeyCombo> {
    size_t operator()(const KeyCombo& combo) const noexcept { return qHash(combo); }
};
