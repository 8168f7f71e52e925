#include "platform/kde/KdeKeyCodes.h"

#include "core/shortcuts/Keysyms.h"

#include <QChar>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <memory>
#include <xkbcommon/xkbcommon.h>

using namespace Qt::StringLiterals;

namespace {
constexpr quint32 kCtrl = 256, kShift = 512, kAlt = 2048, kSuper = 4096;

constexpr std::pair<quint32, int> kModifiers[] = {
    {kCtrl, Qt::CTRL}, {kShift, Qt::SHIFT}, {kAlt, Qt::ALT}, {kSuper, Qt::META}};

constexpr std::pair<quint32, int> kSpecialKeys[] = {
    {Keysym::Escape, Qt::Key_Escape},       {Keysym::Tab, Qt::Key_Tab},
    {Keysym::BackSpace, Qt::Key_Backspace}, {Keysym::Return, Qt::Key_Return},
    {Keysym::Insert, Qt::Key_Insert},       {Keysym::Delete, Qt::Key_Delete},
    {Keysym::Home, Qt::Key_Home},           {Keysym::End, Qt::Key_End},
    {Keysym::Left, Qt::Key_Left},           {Keysym::Up, Qt::Key_Up},
    {Keysym::Right, Qt::Key_Right},         {Keysym::Down, Qt::Key_Down},
    {Keysym::PageUp, Qt::Key_PageUp},       {Keysym::PageDown, Qt::Key_PageDown},
};

// Keypad keysyms after KpMultiply, in order, and the Qt keys they carry.
constexpr int kKeypadOperators[] = {Qt::Key_Asterisk, Qt::Key_Plus,   Qt::Key_Comma,
                                    Qt::Key_Minus,    Qt::Key_Period, Qt::Key_Slash};

bool isLetter(quint32 keysym) {
    return xkb_keysym_to_upper(keysym) != xkb_keysym_to_lower(keysym);
}

// The Qt key for a keysym with no modifier in play; 0 when there is none.
int qtKey(quint32 keysym) {
    if (keysym >= Keysym::F1 && keysym < Keysym::F1 + 35)
        return Qt::Key_F1 + int(keysym - Keysym::F1);
    for (const auto& [sym, key] : kSpecialKeys)
        if (sym == keysym)
            return key;
    if (keysym == Keysym::KpEnter)
        return int(Qt::Key_Enter) | int(Qt::KeypadModifier);
    if (keysym >= Keysym::Kp0 && keysym <= Keysym::Kp0 + 9)
        return (Qt::Key_0 + int(keysym - Keysym::Kp0)) | int(Qt::KeypadModifier);
    if (keysym >= Keysym::KpMultiply && keysym < Keysym::KpMultiply + 6)
        return kKeypadOperators[keysym - Keysym::KpMultiply] | int(Qt::KeypadModifier);
    // Qt names printable keys by their capital.
    if (keysym >= 0x20 && keysym <= 0xff && keysym != 0x7f)
        return int(QChar::toUpper(char32_t(keysym)));
    if (keysym > Keysym::UnicodeOffset && keysym <= Keysym::UnicodeOffset + 0x10ffff)
        return int(QChar::toUpper(char32_t(keysym - Keysym::UnicodeOffset)));
    return 0;
}

quint32 keysymOf(int key, bool keypad) {
    if (keypad) {
        if (key >= Qt::Key_0 && key <= Qt::Key_9)
            return Keysym::Kp0 + quint32(key - Qt::Key_0);
        if (key == Qt::Key_Enter)
            return Keysym::KpEnter;
        for (quint32 i = 0; i < std::size(kKeypadOperators); ++i)
            if (kKeypadOperators[i] == key)
                return Keysym::KpMultiply + i;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return Keysym::F1 + quint32(key - Qt::Key_F1);
    if (key == Qt::Key_Enter)
        return Keysym::Return;
    for (const auto& [sym, qt] : kSpecialKeys)
        if (qt == key)
            return sym;
    if (key >= 0x20 && key <= 0xff)
        return QChar::toLower(char32_t(key));
    if (key > 0xff && key <= 0x10ffff)
        return Keysym::UnicodeOffset + QChar::toLower(char32_t(key));
    return 0;
}
} // namespace

KdeKeyCodes::KdeKeyCodes(const QString& layout) {
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
        xkb_context_new(XKB_CONTEXT_NO_FLAGS), &xkb_context_unref);
    if (!context)
        return;
    const QByteArray name = layout.toUtf8();
    xkb_rule_names names{};
    if (!name.isEmpty())
        names.layout = name.constData();
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
        xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS),
        &xkb_keymap_unref);
    if (!keymap)
        return;
    const xkb_keycode_t first = xkb_keymap_min_keycode(keymap.get());
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap.get());
    // A symbol some key gives without Shift is matched as that key.
    QSet<quint32> plainSymbols;
    for (xkb_keycode_t code = first; code <= last; ++code) {
        const xkb_keysym_t* plain = nullptr;
        if (xkb_keymap_key_get_syms_by_level(keymap.get(), code, 0, 0, &plain) == 1)
            plainSymbols.insert(*plain);
    }
    for (xkb_keycode_t code = first; code <= last; ++code) {
        const xkb_keysym_t* plain = nullptr;
        const xkb_keysym_t* shifted = nullptr;
        if (xkb_keymap_key_get_syms_by_level(keymap.get(), code, 0, 0, &plain) != 1 ||
            xkb_keymap_key_get_syms_by_level(keymap.get(), code, 0, 1, &shifted) != 1)
            continue;
        if (*plain == *shifted || isLetter(*plain) || qtKey(*plain) == 0 || qtKey(*shifted) == 0)
            continue;
        // The main block comes before the keypad: the first key wins.
        if (!m_shifted.contains(*plain))
            m_shifted.insert(*plain, *shifted);
        if (!m_unshifted.contains(*shifted) && !plainSymbols.contains(*shifted))
            m_unshifted.insert(*shifted, *plain);
    }
}

int KdeKeyCodes::toQt(quint32 keysym, quint32 modifiers) const {
    if ((modifiers & kShift) && m_shifted.contains(keysym)) {
        keysym = m_shifted.value(keysym);
        modifiers &= ~kShift;
    }
    const int key = qtKey(keysym);
    if (key == 0)
        return 0;
    int code = key;
    for (const auto& [bit, qt] : kModifiers)
        if (modifiers & bit)
            code |= qt;
    return code;
}

std::optional<KdeKeyCodes::Combo> KdeKeyCodes::fromQt(int code) const {
    const int key = code & ~int(Qt::KeyboardModifierMask);
    quint32 modifiers = 0;
    for (const auto& [bit, qt] : kModifiers)
        if (code & qt)
            modifiers |= bit;
    if (key == Qt::Key_Backtab) // Shift+Tab as Qt reports it
        return Combo{Keysym::Tab, modifiers | kShift};
    quint32 keysym = keysymOf(key, code & int(Qt::KeypadModifier));
    if (keysym == 0)
        return std::nullopt;
    if (!(modifiers & kShift) && m_unshifted.contains(keysym)) {
        keysym = m_unshifted.value(keysym);
        modifiers |= kShift;
    }
    return Combo{keysym, modifiers};
}

QString KdeKeyCodes::plasmaLayout() {
    const QString file = QStandardPaths::locate(QStandardPaths::GenericConfigLocation, u"kxkbrc"_s);
    if (file.isEmpty())
        return {};
    const QSettings settings(file, QSettings::IniFormat);
    if (!settings.value(u"Layout/Use"_s, false).toBool())
        return {};
    // QSettings reads "us,de" as a list.
    const QVariant list = settings.value(u"Layout/LayoutList"_s);
    const QString first = list.typeId() == QMetaType::QStringList
                              ? list.toStringList().value(0)
                              : list.toString().section(u',', 0, 0);
    return first.trimmed();
}
