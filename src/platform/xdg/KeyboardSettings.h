#pragma once

#include <QStringList>

// Where this desktop lets the user bind a key to a command.
namespace KeyboardSettings {
// The program, with its arguments, that opens the desktop's keyboard
// shortcut settings; empty when the desktop is not one we know or the
// program is not installed.
QStringList command();
} // namespace KeyboardSettings
