#pragma once

#include <QString>
#include <QtGlobal>

// Keysyms by the names the desktops' shortcut notations use ("v", "F5",
// "Return").
namespace KeysymName {
// Empty for a keysym without a name: xkbcommon gives those as a hex number,
// which no shortcut notation takes.
QString of(quint32 keysym);
} // namespace KeysymName
