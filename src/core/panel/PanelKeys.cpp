#include "core/panel/PanelKeys.h"

namespace PanelKeys {
namespace {
constexpr std::pair<Action, KeyCombo> combos[] = {
    {Action::togglePin, togglePin},
    {Action::deleteClip, deleteClip},
    {Action::movePinUp, movePinUp},
    {Action::movePinDown, movePinDown},
};
} // namespace

std::optional<Action> actionFor(int qtKey, Qt::KeyboardModifiers modifiers) {
    // The keypad's arrows and Delete are the same keys here.
    const KeyCombo pressed{KeyCombo::keysymForQtKey(qtKey), KeyCombo::maskFromQt(modifiers)};
    for (const auto& [action, combo] : combos)
        if (combo == pressed)
            return action;
    return std::nullopt;
}

QString label(Action action) {
    for (const auto& [candidate, combo] : combos)
        if (candidate == action)
            return combo.displayString();
    return {};
}
} // namespace PanelKeys
