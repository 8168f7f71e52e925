#include "core/shortcuts/KeyCombo.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

struct NamedKey {
    quint32 keysym;
    const char16_t* label;
};

constexpr NamedKey kNamedKeys[] = {
    {Keysym::Space, u"Space"},   {Keysym::Return, u"Return"},
    {Keysym::Tab, u"Tab"},       {Keysym::BackSpace, u"Backspace"},
    {Keysym::Delete, u"Delete"}, {Keysym::Escape, u"Esc"},
    {Keysym::Home, u"Home"},     {Keysym::End, u"End"},
    {Keysym::PageUp, u"PgUp"},   {Keysym::PageDown, u"PgDown"},
    {Keysym::Left, u"←"},        {Keysym::Right, u"→"},
    {Keysym::Up, u"↑"},          {Keysym::Down, u"↓"},
    {Keysym::Insert, u"Insert"},
};

struct QtToKeysym {
    int qtKey;
    quint32 keysym;
};

constexpr QtToKeysym kQtSpecialKeys[] = {
    {Qt::Key_Escape, Keysym::Escape},
    {Qt::Key_Tab, Keysym::Tab},
    {Qt::Key_Backtab, Keysym::Tab}, // Shift+Tab: the key itself is Tab
    {Qt::Key_Backspace, Keysym::BackSpace},
    {Qt::Key_Return, Keysym::Return},
    {Qt::Key_Enter, Keysym::KpEnter},
    {Qt::Key_Insert, Keysym::Insert},
    {Qt::Key_Delete, Keysym::Delete},
    {Qt::Key_Home, Keysym::Home},
    {Qt::Key_End, Keysym::End},
    {Qt::Key_Left, Keysym::Left},
    {Qt::Key_Up, Keysym::Up},
    {Qt::Key_Right, Keysym::Right},
    {Qt::Key_Down, Keysym::Down},
    {Qt::Key_PageUp, Keysym::PageUp},
    {Qt::Key_PageDown, Keysym::PageDown},
};

quint32 keypadKeysym(int qtKey) {
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return Keysym::Kp0 + quint32(qtKey - Qt::Key_0);
    switch (qtKey) {
    case Qt::Key_Asterisk:
        return Keysym::KpMultiply;
    case Qt::Key_Plus:
        return Keysym::KpMultiply + 1;
    case Qt::Key_Comma:
        return Keysym::KpMultiply + 2;
    case Qt::Key_Minus:
        return Keysym::KpMultiply + 3;
    case Qt::Key_Period:
        return Keysym::KpMultiply + 4;
    case Qt::Key_Slash:
        return Keysym::KpMultiply + 5;
    default:
        return 0;
    }
}

std::optional<quint32> jsonUInt32(const QJsonObject& object, QLatin1StringView key) {
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!(number >= 0 && number <= 4294967295.0) || std::trunc(number) != number)
        return std::nullopt;
    return quint32(number);
}

} // namespace

bool KeyCombo::isFunctionKey(quint32 keysym) {
    return keysym >= Keysym::F1 && keysym <= Keysym::F15;
}

quint32 KeyCombo::keysymForQtKey(int qtKey, Qt::KeyboardModifiers modifiers) {
    if (modifiers.testFlag(Qt::KeypadModifier)) {
        if (const quint32 keypad = keypadKeysym(qtKey))
            return keypad;
    }
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35)
        return Keysym::F1 + quint32(qtKey - Qt::Key_F1);
    for (const auto& special : kQtSpecialKeys) {
        if (special.qtKey == qtKey)
            return special.keysym;
    }
    // Printable keys: Qt reports letters upper-case, X grabs the keysym of the
    // unshifted key, which for letters is the lower-case one.
    if (qtKey >= 0x20 && qtKey <= 0xff)
        return QChar::toLower(char32_t(qtKey));
    if (qtKey > 0xff && qtKey <= 0x10ffff)
        return Keysym::UnicodeOffset + QChar::toLower(char32_t(qtKey));
    return 0; // modifiers, media keys and the like
}

quint32 KeyCombo::maskFromQt(Qt::KeyboardModifiers modifiers) {
    quint32 mask = 0;
    if (modifiers.testFlag(Qt::ControlModifier))
        mask |= Ctrl;
    if (modifiers.testFlag(Qt::AltModifier))
        mask |= Alt;
    if (modifiers.testFlag(Qt::MetaModifier))
        mask |= Super;
    if (modifiers.testFlag(Qt::ShiftModifier))
        mask |= Shift;
    return mask;
}

std::optional<KeyCombo> KeyCombo::fromKey(int qtKey, Qt::KeyboardModifiers modifiers) {
    const quint32 keysym = keysymForQtKey(qtKey, modifiers);
    if (keysym == 0)
        return std::nullopt;
    const quint32 mask = maskFromQt(modifiers);
    if ((mask & (Ctrl | Alt | Super)) == 0 && !isFunctionKey(keysym))
        return std::nullopt;
    return KeyCombo{keysym, mask};
}

std::optional<KeyCombo> KeyCombo::fromEvent(const QKeyEvent& event, const BaseKeysym& baseKeysym) {
    std::optional<KeyCombo> combo = fromKey(event.key(), event.modifiers());
    // Qt reports the shifted symbol ("!" for Shift+1); the grab and the
    // pinned-clip shortcuts name the key itself.
    if (combo && (combo->carbonModifiers & Shift) && baseKeysym) {
        if (const quint32 base = baseKeysym(event.nativeScanCode()); base != 0)
            combo->keyCode = base;
    }
    return combo;
}

QString KeyCombo::modifierSymbols(quint32 mask) {
    QString text;
    if (mask & Ctrl)
        text += u"Ctrl+";
    if (mask & Alt)
        text += u"Alt+";
    if (mask & Shift)
        text += u"Shift+";
    if (mask & Super)
        text += u"Super+";
    return text;
}

QString KeyCombo::keyLabel() const {
    for (const auto& named : kNamedKeys) {
        if (named.keysym == keyCode)
            return QString::fromUtf16(named.label);
    }
    if (keyCode >= Keysym::F1 && keyCode <= Keysym::F35)
        return u"F"_s + QString::number(keyCode - Keysym::F1 + 1);
    // Latin-1 keysyms are their character; others carry a code point.
    char32_t character = 0;
    if ((keyCode > 0x20 && keyCode < 0x7f) || (keyCode > 0xa0 && keyCode <= 0xff))
        character = keyCode;
    else if (keyCode >= Keysym::UnicodeOffset + 0x100 &&
             keyCode <= Keysym::UnicodeOffset + 0x10ffff)
        character = keyCode - Keysym::UnicodeOffset;
    if (character != 0 && QChar::isPrint(character)) {
        const char32_t upper = QChar::toUpper(character);
        return QString::fromUcs4(&upper, 1);
    }
    return u"Key "_s + QString::number(keyCode);
}

QByteArray KeyCombo::encode() const {
    return QByteArrayLiteral("{\"keyCode\":") + QByteArray::number(keyCode) +
           QByteArrayLiteral(",\"carbonModifiers\":") + QByteArray::number(carbonModifiers) + '}';
}

std::optional<KeyCombo> KeyCombo::decode(const QByteArray& json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const auto keyCode = jsonUInt32(object, QLatin1StringView("keyCode"));
    const auto modifiers = jsonUInt32(object, QLatin1StringView("carbonModifiers"));
    // A zero keysym or unknown mask bits could never have been recorded here
    // and would grab something other than what the user chose.
    if (!keyCode || !modifiers || *keyCode == 0 || (*modifiers & ~AllModifiers) != 0)
        return std::nullopt;
    return KeyCombo{*keyCode, *modifiers};
}
