#pragma once

#include <QString>

// The few dialogs the program shows outside its settings window.
namespace Alerts {
// The warning before history is cleared; true when the user chose "Clear".
bool confirmClearHistory(const QString& message, const QString& detail);
// Why clicking a clip copies but does not paste in this session.
void explainPasting();
} // namespace Alerts
