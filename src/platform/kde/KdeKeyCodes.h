#pragma once

#include <QHash>
#include <QString>
#include <QtGlobal>
#include <optional>
#include <utility>

// Keys the way KDE's shortcut service stores them: one Qt key code with the
// Qt modifier bits added. Ours are an X keysym and the KeyCombo modifier bits
// (Ctrl 256, Shift 512, Alt 2048, Super 4096).
//
// KWin matches a key pressed with Shift by the symbol Shift gives on it, with
// the Shift left out (Shift+1 arrives as "!" on a US layout), except for
// letters, which keep Shift. So a Shift combo on a key other than a letter is
// stored as that symbol, which depends on the keyboard layout.
class KdeKeyCodes {
public:
    using Combo = std::pair<quint32, quint32>; // keysym, modifier bits

    // `layout` is an xkb layout name ("us", "de"); empty takes xkbcommon's
    // default, which follows the XKB_DEFAULT_* variables.
    explicit KdeKeyCodes(const QString& layout = {});

    // 0 when the key has no Qt key code.
    int toQt(quint32 keysym, quint32 modifiers) const;
    // None for codes our combos cannot hold (a media key, a bare modifier).
    std::optional<Combo> fromQt(int code) const;

    // The first layout of Plasma's keyboard settings (kxkbrc), or empty.
    static QString plasmaLayout();

private:
    // Unshifted keysym -> what Shift gives on the same key, and back, for
    // the keys of the layout where Shift does more than make a capital.
    QHash<quint32, quint32> m_shifted;
    QHash<quint32, quint32> m_unshifted;
};
