#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>
#include <array>

// Keysyms by the names the desktops' shortcut notations use ("v", "F5",
// "Return").
namespace KeysymName {
// Empty for a keysym without a name: xkbcommon gives those as a hex number,
// which no shortcut notation takes.
QString of(quint32 keysym);
// The key with its modifiers (KeyCombo's bits) in a desktop's notation:
// `words` name Ctrl, Alt, Shift and Super, in that order, as they go before
// the key's name. Empty for a keysym without a name.
QString withModifiers(quint32 keysym, quint32 modifiers, const std::array<QStringView, 4>& words);
} // namespace KeysymName
