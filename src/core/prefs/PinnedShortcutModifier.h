#pragma once

#include "core/prefs/RawEnum.h"
#include "core/shortcuts/KeyCombo.h"

// The modifier pair held with the number row to paste pinned clips 1 to 10
// from anywhere; disabled grabs nothing. The stored names are those other
// devices and older settings files use, in the shared modifier vocabulary
// (command = Ctrl, option = Alt, control = Super).
enum class PinnedShortcutModifier { disabled, altSuper, ctrlShift, ctrlSuper, shiftSuper };

template <> struct RawEnumCases<PinnedShortcutModifier> {
    static constexpr RawCase<PinnedShortcutModifier> cases[] = {
        {PinnedShortcutModifier::disabled, u"disabled"},
        {PinnedShortcutModifier::altSuper, u"controlOption"},
        {PinnedShortcutModifier::ctrlShift, u"commandShift"},
        {PinnedShortcutModifier::ctrlSuper, u"commandControl"},
        {PinnedShortcutModifier::shiftSuper, u"controlShift"},
    };
};

constexpr quint32 modifierMask(PinnedShortcutModifier modifier) {
    switch (modifier) {
    case PinnedShortcutModifier::disabled:
        return 0;
    case PinnedShortcutModifier::altSuper:
        return KeyCombo::Super | KeyCombo::Alt;
    case PinnedShortcutModifier::ctrlShift:
        return KeyCombo::Ctrl | KeyCombo::Shift;
    case PinnedShortcutModifier::ctrlSuper:
        return KeyCombo::Ctrl | KeyCombo::Super;
    case PinnedShortcutModifier::shiftSuper:
        return KeyCombo::Super | KeyCombo::Shift;
    }
    return 0;
}

// "Off", or the modifiers as shortcut labels show them ("Alt+Super+").
inline QString modifierLabel(PinnedShortcutModifier modifier) {
    using namespace Qt::StringLiterals;
    if (modifier == PinnedShortcutModifier::disabled)
        return u"Off"_s;
    return KeyCombo::modifierSymbols(modifierMask(modifier));
}
