#pragma once

#include "core/shortcuts/KeyCombo.h"

#include <optional>

// The panel's keys for acting on the selected clip, beside the arrows,
// Return and Esc. Each holds a modifier, so nothing typed into the search
// field changes meaning; the row's context menu shows them.
namespace PanelKeys {
enum class Action { togglePin, deleteClip, movePinUp, movePinDown };

inline constexpr KeyCombo togglePin{0x70 /* p */, KeyCombo::Ctrl};
inline constexpr KeyCombo deleteClip{Keysym::Delete, KeyCombo::Shift};
inline constexpr KeyCombo movePinUp{Keysym::Up, KeyCombo::Ctrl | KeyCombo::Shift};
inline constexpr KeyCombo movePinDown{Keysym::Down, KeyCombo::Ctrl | KeyCombo::Shift};

// Which action a key press asks for, if any.
std::optional<Action> actionFor(int qtKey, Qt::KeyboardModifiers modifiers);
// The combo's name as the menus show it ("Ctrl+P").
QString label(Action action);
} // namespace PanelKeys
