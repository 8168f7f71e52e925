#pragma once

#include "core/prefs/RawEnum.h"
#include "core/shortcuts/KeyCombo.h"

// The modifier pair held with the number row to paste pinned clips 1 to 10
// from anywhere; disabled grabs nothing.
enum class PinnedShortcutModifier {
    disabled,
    controlOption,
    commandShift,
    commandControl,
    controlShift
};

template <> struct RawEnumCases<PinnedShortcutModifier> {
    static constexpr RawCase<PinnedShortcutModifier> cases[] = {
        {PinnedShortcutModifier::disabled, u"disabled"},
        {PinnedShortcutModifier::controlOption, u"controlOption"},
        {PinnedShortcutModifier::commandShift, u"commandShift"},
        {PinnedShortcutModifier::commandControl, u"commandControl"},
        {PinnedShortcutModifier::controlShift, u"controlShift"},
    };
};

constexpr quint32 modifierMask(PinnedShortcutModifier modifier) {
    switch (modifier) {
    case PinnedShortcutModifier::disabled:
        return 0;
    case PinnedShortcutModifier::controlOption:
        return KeyCombo::Super | KeyCombo::Alt;
    case PinnedShortcutModifier::commandShift:
        return KeyCombo::Ctrl | KeyCombo::Shift;
    case PinnedShortcutModifier::commandControl:
        return KeyCombo::Ctrl | KeyCombo::Super;
    case PinnedShortcutModifier::controlShift:
        return KeyCombo::Super | KeyCombo::Shift;
    }
    return 0;
}

// "Off", or the modifiers as shortcut labels show them ("Alt+Super+").
inline QString modifierLabel(PinnedShortcutModifier modifier) {
    if (modifier == PinnedShortcutModifier::disabled)
        return QStringLiteral("Off");
    return KeyCombo::modifierSymbols(modifierMask(modifier));
}
